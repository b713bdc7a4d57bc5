// Port: the main form's two window timers. A started timer ticks every
// interval until it is stopped; each tick comes back to the controller as a
// message, between other messages (also inside a modal dialog).
#pragma once

namespace umbrane {

enum class TimerId { Read, Reset };

class ITimers {
 public:
  virtual ~ITimers() = default;

  // Starts (or restarts) the countdown of `id`.
  virtual void Start(TimerId id, unsigned intervalMs) = 0;
  virtual void Stop(TimerId id) = 0;
};

}  // namespace umbrane
