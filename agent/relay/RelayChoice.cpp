#include "relay/RelayChoice.h"

#include <algorithm>

namespace warden {

RelayChoice::RelayChoice(const std::vector<std::size_t>& order) {
  for (const std::size_t place : order) {
    standings_.push_back({place});
  }
}

std::vector<std::size_t> RelayChoice::Candidates(Time now) const {
  std::vector<const Standing*> order;
  for (const Standing& standing : standings_) {
    order.push_back(&standing);
  }
  // Stable: those not benched keep their order (the relay in use first),
  // ahead of every benched one.
  std::stable_sort(order.begin(), order.end(), [now](const Standing* a, const Standing* b) {
    return std::max(a->benchedUntil, now) < std::max(b->benchedUntil, now);
  });
  std::vector<std::size_t> places;
  for (const Standing* standing : order) {
    places.push_back(standing->place);
  }
  return places;
}

void RelayChoice::Failed(std::size_t place, Time now) {
  for (Standing& standing : standings_) {
    if (standing.place == place) {
      const auto pause = std::min<Clock::duration>(
          kBenchFirst * (1LL << std::min(standing.failures, 16)), kBenchMost);
      ++standing.failures;
      standing.benchedUntil = now + pause;
    }
  }
}

bool RelayChoice::Answered(std::size_t place) {
  const auto found = std::find_if(standings_.begin(), standings_.end(),
                                  [place](const Standing& s) { return s.place == place; });
  if (found == standings_.end()) {
    return false;
  }
  found->failures = 0;
  found->benchedUntil = Time{};
  if (found == standings_.begin()) {
    return false;
  }
  // It proved better than the relay in use: it is used from now on.
  std::rotate(standings_.begin(), found, found + 1);
  return true;
}

DialPlan::DialPlan(std::vector<std::size_t> candidates, Time start)
    : candidates_(std::move(candidates)), lastStart_(start) {}

std::vector<std::size_t> DialPlan::Due(Time now) {
  std::vector<std::size_t> due;
  while (next_ < candidates_.size() && running_ < RelayChoice::kAtOnce &&
         (running_ == 0 || now >= lastStart_ + RelayChoice::kStagger)) {
    due.push_back(candidates_[next_++]);
    ++running_;
    lastStart_ = now;
  }
  return due;
}

DialPlan::Time DialPlan::NextLook() const {
  if (next_ < candidates_.size() && running_ < RelayChoice::kAtOnce) {
    return running_ == 0 ? lastStart_ : lastStart_ + RelayChoice::kStagger;
  }
  return Time::max();
}

}  // namespace warden
