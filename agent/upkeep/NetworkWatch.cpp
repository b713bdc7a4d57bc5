// What both platforms' watches share: the tick that tells of a sleep.
// The system's notice of a change is NetworkWatchWindows.cpp's or
// NetworkWatchPosix.cpp's (CMake chooses one).
#include "upkeep/NetworkWatch.h"

#include <algorithm>
#include <string>

namespace warden {

void NetworkWatch::Start() {
  dueSteady_ = std::chrono::steady_clock::now() + kTick;
  dueWall_ = std::chrono::system_clock::now() + kTick;
  Tick();
  WatchSystem();
}

void NetworkWatch::Tick() {
  tick_.expires_at(dueSteady_);
  tick_.async_wait([this](asio::error_code ec) {
    if (ec) {
      return;
    }
    const auto lateSteady = std::chrono::steady_clock::now() - dueSteady_;
    const auto lateWall = std::chrono::system_clock::now() - dueWall_;
    const auto late = std::chrono::duration_cast<std::chrono::seconds>(
        std::max<std::chrono::nanoseconds>(lateSteady, lateWall));
    dueSteady_ = std::chrono::steady_clock::now() + kTick;
    dueWall_ = std::chrono::system_clock::now() + kTick;
    if (late > kLate) {
      changed_("the agent was asleep for about " + std::to_string(late.count()) + " s");
    }
    Tick();
  });
}

}  // namespace warden
