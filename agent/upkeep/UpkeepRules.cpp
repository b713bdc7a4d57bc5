#include "upkeep/UpkeepRules.h"

#include <algorithm>
#include <cmath>

namespace warden {

UpkeepRules::UpkeepRules(Time start, std::function<double()> random)
    : random_(std::move(random)), lastClient_(start), lastProbe_(start), nextProbe_(start) {}

UpkeepRules::Clock::duration UpkeepRules::Between(Clock::duration low, Clock::duration high) {
  return low + std::chrono::duration_cast<Clock::duration>((high - low) * random_());
}

void UpkeepRules::Answered() {
  if (lost_) {
    lost_ = false;
    report_ = Report::Back;
  }
  failures_ = 0;
}

void UpkeepRules::OpenEnded(bool ok) {
  if (ok) {
    Answered();
  } else if (!lost_) {
    Suspect();
  }
}

void UpkeepRules::ProbeEnded(Time now, bool ok) {
  probing_ = false;
  suspect_ = suspectAgain_;
  suspectAgain_ = false;
  if (ok) {
    Answered();
    nextProbe_ = now + Between(kIdleProbeMin, kIdleProbeMax);
    return;
  }
  if (!lost_) {
    lost_ = true;
    report_ = Report::Lost;
  }
  // 2 s, then half as long again each time, up to 20 s; a quarter either
  // way at random.
  const double wait =
      std::min(std::chrono::duration<double>(kLostRetryFirst).count() * std::pow(1.5, failures_++),
               std::chrono::duration<double>(kLostRetryMost).count());
  nextProbe_ = now + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(wait * (0.75 + 0.5 * random_())));
}

std::size_t UpkeepRules::Ready(Time now) const {
  if (lost_ || probing_ || suspect_) {
    // Nothing to open beside a probe: its connection is the first kept,
    // and the others follow once it has shown the way is good.
    return 0;
  }
  return Active(now) ? kActiveReady : 1;
}

UpkeepRules::Time UpkeepRules::NextLook(Time now) const {
  if (probing_) {
    return Time::max();  // the probe's end is the next event
  }
  if (suspect_) {
    return std::max(now, lastProbe_ + kProbeSpacing);
  }
  if (lost_) {
    return nextProbe_;
  }
  if (Active(now)) {
    return std::min(now + kRenewLook, lastClient_ + kIdleAfter);
  }
  return idle_ ? nextProbe_ : now;
}

UpkeepRules::Do UpkeepRules::Look(Time now, Clock::duration oldestReady) {
  if (probing_) {
    return Do::Nothing;
  }
  const bool active = Active(now);
  const bool due = (suspect_ && now >= lastProbe_ + kProbeSpacing) ||
                   (lost_ && now >= nextProbe_) || (!active && idle_ && now >= nextProbe_);
  if (active) {
    idle_ = false;
  } else if (!idle_) {
    idle_ = true;  // quiet from now on: the first probe comes at a random time
    nextProbe_ = now + Between(kIdleProbeMin, kIdleProbeMax);
  }
  if (due) {
    probing_ = true;
    lastProbe_ = now;
    return Do::Probe;
  }
  if (active && !lost_ && !suspect_ && oldestReady > kRenewAge) {
    return Do::RenewOldest;
  }
  return Do::Nothing;
}

UpkeepRules::Report UpkeepRules::TakeReport() {
  const Report report = report_;
  report_ = Report::None;
  return report;
}

}  // namespace warden
