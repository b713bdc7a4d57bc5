// The rules for the agent's own connections to its relay, over many minutes
// of virtual time: a scripted relay that is up or down at each moment, the
// keeper driven as RelayHealth drives it, every connection counted.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <random>
#include <set>
#include <vector>

#include "RelayKeeper.h"

namespace warden {
namespace {

using std::chrono::seconds;
using Time = RelayKeeper::Time;
using Report = RelayKeeper::Report;

class Simulation {
 public:
  // `up(t)`: whether the relay answers at `t` seconds.
  explicit Simulation(std::function<bool(double)> up) : up_(std::move(up)) {}

  // Runs to `until` seconds, a client arriving at each of `clients`.
  void Run(double until, std::set<double> clients = {}) {
    while (true) {
      const double look = At(keeper.NextLook(now_));
      const double client = clients.empty() ? until : *clients.begin();
      const double next = std::min({look, probeEnd_, client, until});
      now_ =
          Time() + std::chrono::duration_cast<Time::duration>(std::chrono::duration<double>(next));
      if (next >= until) {
        return;
      }
      if (next == probeEnd_) {
        probeEnd_ = kNever;
        keeper.ProbeEnded(now_, Up());
        if (Up()) {
          ready_.push_back(now_);
        }
      } else if (next == client) {
        clients.erase(clients.begin());
        keeper.ClientArrived(now_);
        if (ready_.empty()) {
          Open();  // the client's own
        } else {
          ready_.pop_front();
        }
      } else {
        switch (keeper.Look(now_, ready_.empty() ? Time::duration() : now_ - ready_.front())) {
          case RelayKeeper::Do::Probe:
            opened.push_back(next);
            probeEnd_ = next + (Up() ? 0.1 : 1.5);  // an unanswered probe gives up
            break;
          case RelayKeeper::Do::RenewOldest:
            ready_.pop_front();
            break;
          case RelayKeeper::Do::Nothing:
            break;
        }
      }
      Settle();
    }
  }

  double Now() const { return At(now_); }
  std::size_t Ready() const { return ready_.size(); }

  std::mt19937 random{7};
  RelayKeeper keeper{Time(), [this] { return std::uniform_real_distribution<>()(random); }};
  std::vector<double> opened;                   // every connection, in seconds
  std::vector<std::pair<double, Report>> told;  // what the agent printed, when

 private:
  static constexpr double kNever = 1e18;
  static double At(Time t) {
    return t == Time::max() ? kNever : std::chrono::duration<double>(t - Time()).count();
  }
  bool Up() const { return up_(Now()); }
  bool Open() {
    opened.push_back(Now());
    keeper.OpenEnded(Up());
    return Up();
  }
  // The pool as RelayPool keeps it: filled to Ready, the oldest closed beyond.
  void Settle() {
    const std::size_t wanted = keeper.Ready(now_);
    while (ready_.size() < wanted && Open()) {
      ready_.push_back(now_);
    }
    while (ready_.size() > std::max<std::size_t>(wanted, 1)) {
      ready_.pop_front();
    }
    if (const Report report = keeper.TakeReport(); report != Report::None) {
      told.emplace_back(Now(), report);
    }
  }

  std::function<bool(double)> up_;
  Time now_;
  double probeEnd_ = kNever;
  std::deque<Time> ready_;
};

TEST(RelayKeeper, IdleForTenMinutesItKeepsOneAndOpensAtMostTwoAMinuteAtIrregularTimes) {
  Simulation idle([](double) { return true; });
  idle.Run(90);
  EXPECT_EQ(idle.Ready(), 1u);
  const std::size_t first = idle.opened.size();
  idle.Run(690);
  const std::vector<double> quiet(idle.opened.begin() + static_cast<long>(first),
                                  idle.opened.end());
  ASSERT_GE(quiet.size(), 12u) << "probed all the same";
  for (std::size_t i = 0; i + 2 < quiet.size(); ++i) {
    EXPECT_GE(quiet[i + 2] - quiet[i], 60.0) << "three connections within a minute at " << quiet[i];
  }
  std::vector<double> gaps;
  for (std::size_t i = 1; i < quiet.size(); ++i) {
    gaps.push_back(quiet[i] - quiet[i - 1]);
  }
  EXPECT_GT(
      *std::max_element(gaps.begin(), gaps.end()) - *std::min_element(gaps.begin(), gaps.end()),
      5.0)
      << "a fixed period";
  EXPECT_TRUE(idle.told.empty());
}

// The relay goes away at 300 s and is back at 400 s: told lost, then back,
// and never twice in a row.
TEST(RelayKeeper, ALostRelayIsToldWithinAMinuteIdleAtOnceOnAClientsFailureAndItsReturnSoon) {
  const auto up = [](double t) { return t < 300 || t >= 400; };
  const struct {
    const char* name;
    std::set<double> clients;
    double lostBy;
  } cases[] = {
      {"idle", {}, 360},
      {"a client's connection fails", {301}, 303},
      {"clients all along", {250, 260, 270, 280, 290, 301.5, 350, 390}, 304},
  };
  for (const auto& c : cases) {
    Simulation run(up);
    run.Run(500, c.clients);
    ASSERT_EQ(run.told.size(), 2u) << c.name;
    EXPECT_EQ(run.told[0].second, Report::Lost) << c.name;
    EXPECT_GE(run.told[0].first, 300) << c.name;
    EXPECT_LE(run.told[0].first, c.lostBy) << c.name;
    EXPECT_EQ(run.told[1].second, Report::Back) << c.name;
    EXPECT_LE(run.told[1].first, 400 + 25) << c.name;
    const auto whileLost = std::count_if(run.opened.begin(), run.opened.end(),
                                         [](double t) { return t >= 310 && t < 400; });
    EXPECT_LE(whileLost, 10) << c.name << ": probes back off while the relay is away";
  }
}

TEST(RelayKeeper, ASuspectIsProbedAtOnceLostOrNot) {
  for (const bool up : {true, false}) {
    Simulation run([up](double t) { return t < 100 || up; });
    run.Run(200);
    const std::size_t before = run.opened.size();
    run.keeper.Suspect();  // the network changed, the machine woke
    run.Run(202);
    ASSERT_GT(run.opened.size(), before) << up;
    EXPECT_LE(run.opened[before], 201.0) << up << ": probes are a second apart at least";
  }
}

}  // namespace
}  // namespace warden
