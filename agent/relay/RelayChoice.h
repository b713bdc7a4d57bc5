// Which relay a new connection goes to, when there are several. No sockets
// here, only the rules, so they can be checked over virtual time:
//
// - The relay in use is tried first; while it answers, no other is
//   contacted (an onlooker learns only the relay in use).
// - A new connection tries at most two relays at once: the next one joins
//   when the first has not answered within kStagger (a black hole), or at
//   once when it refused, reset or showed another key. The first that
//   answers as itself is used, and becomes the relay in use.
// - A relay whose attempt failed is benched: tried after every other, for
//   10 s, then twice as long at each failure that follows, up to 10
//   minutes; an answer ends its bench.
#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

namespace warden {

class RelayChoice {
 public:
  using Clock = std::chrono::steady_clock;
  using Time = Clock::time_point;

  static constexpr std::chrono::milliseconds kStagger{1500};
  static constexpr std::size_t kAtOnce = 2;
  static constexpr std::chrono::seconds kBenchFirst{10};
  static constexpr std::chrono::seconds kBenchMost{600};

  // `order`: the relays' places in their list, the one to use first first.
  explicit RelayChoice(const std::vector<std::size_t>& order);

  std::size_t InUse() const { return standings_.front().place; }
  // Where a new connection looks, in order: the relay in use, the others
  // that are not benched, then the benched ones, the soonest back first.
  std::vector<std::size_t> Candidates(Time now) const;
  // An attempt's outcome (one cancelled because another answered first is
  // neither).
  void Failed(std::size_t place, Time now);
  // True when the relay in use changed to `place`.
  bool Answered(std::size_t place);

 private:
  struct Standing {
    std::size_t place;
    int failures = 0;
    Time benchedUntil{};
  };
  std::vector<Standing> standings_;  // the relay in use first
};

// One new connection over the candidates: which attempts start when.
class DialPlan {
 public:
  using Time = RelayChoice::Time;
  DialPlan(std::vector<std::size_t> candidates, Time start);

  // The relays whose attempt starts now, each at most once.
  std::vector<std::size_t> Due(Time now);
  // When Due may have more (Time::max() when only an attempt's end can).
  Time NextLook() const;
  // A running attempt failed.
  void Failed() { --running_; }
  // Every candidate tried, and none is still running.
  bool Exhausted() const { return next_ == candidates_.size() && running_ == 0; }

 private:
  std::vector<std::size_t> candidates_;
  std::size_t next_ = 0;
  std::size_t running_ = 0;
  Time lastStart_;
};

}  // namespace warden
