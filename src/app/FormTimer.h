// A timer of the main form, as the controller uses it: an interval and an
// enabled switch over the timer port. Like a window timer it does not tick
// with an interval of 0.
#pragma once

#include "platform/Timers.h"

namespace umbrane {

class TTimer {
 public:
  TTimer(ITimers& timers, TimerId id) : timers_(timers), id_(id) {}

  bool Enabled() const { return enabled_; }
  unsigned Interval() const { return interval_; }

  // Sets the interval and enables the timer; the countdown starts afresh.
  void Arm(unsigned intervalMs) {
    interval_ = intervalMs;
    enabled_ = true;
    Apply();
  }
  void Disarm() {
    if (enabled_) {
      enabled_ = false;
      Apply();
    }
  }

 private:
  void Apply() {
    timers_.Stop(id_);
    if (enabled_ && interval_ > 0) {
      timers_.Start(id_, interval_);
    }
  }

  ITimers& timers_;
  TimerId id_;
  unsigned interval_ = 0;
  bool enabled_ = false;
};

}  // namespace umbrane
