// Staying up over many minutes of virtual time: the agent's own driver
// (Upkeep) and its rules (UpkeepRules) on a scripted relay that is up or
// down at each moment, every connection counted.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <functional>
#include <random>
#include <set>
#include <vector>

#include "upkeep/Upkeep.h"

namespace warden {
namespace {

using Time = UpkeepRules::Time;
using Report = UpkeepRules::Report;

// The world of the driver over virtual time: a relay that is up or down at
// each moment, the connections kept ready as RelayPool keeps them, and
// every connection counted. The driver is the agent's own Upkeep.
class Simulation final : public UpkeepWorld {
 public:
  // `up(t)`: whether the relay answers at `t` seconds.
  explicit Simulation(std::function<bool(double)> up) : up_(std::move(up)) { upkeep.Start(); }

  // Runs to `until` seconds, a client arriving at each of `clients`.
  void Run(double until, std::set<double> clients = {}) {
    while (true) {
      if (!seen_.empty()) {  // what an open found, told as the pool tells it, at once
        const bool ok = seen_.front();
        seen_.pop_front();
        upkeep.OpenEnded(ok);
        continue;
      }
      const double client = clients.empty() ? until : *clients.begin();
      const double next = std::min({wake_, probeEnd_, client, until});
      now_ = At(next);
      if (next >= until) {
        return;
      } else if (next == probeEnd_) {
        probeEnd_ = kNever;
        if (Up()) {
          ready_.push_back(now_);
        }
        upkeep.ProbeEnded(Up());
      } else if (next == client) {
        clients.erase(clients.begin());
        if (ready_.empty()) {
          Open();  // the client's own
        } else {
          ready_.pop_front();
        }
        upkeep.ClientArrived();
      } else {
        wake_ = kNever;
        ++woken;
        upkeep.Wake();
      }
    }
  }

  double Elapsed() const { return Seconds(now_); }
  std::size_t Ready() const { return ready_.size(); }

  Time Now() override { return now_; }
  void WakeAt(Time when) override {
    pushedBack += wake_ != kNever && Seconds(when) > wake_ ? 1 : 0;
    wake_ = Seconds(when);
  }
  void KeepReady(std::size_t count) override {
    while (ready_.size() < count && Open()) {
      ready_.push_back(now_);
    }
    while (ready_.size() > std::max<std::size_t>(count, 1)) {
      ready_.pop_front();
    }
  }
  Clock::duration OldestAge() override {
    return ready_.empty() ? Clock::duration() : now_ - ready_.front();
  }
  void Probe() override {
    opened.push_back(Elapsed());
    probeEnd_ = Elapsed() + (Up() ? 0.1 : 1.5);  // an unanswered probe gives up
  }
  void RenewOldest(Clock::duration age) override {
    if (!ready_.empty() && now_ - ready_.front() > age) {
      ready_.pop_front();
    }
  }
  void Drop() override { ready_.clear(); }
  void Tell(Report report) override { told.emplace_back(Elapsed(), report); }

  std::mt19937 random{7};
  std::vector<double> opened;                   // every connection, in seconds
  std::vector<std::pair<double, Report>> told;  // what the agent printed, when
  int woken = 0;                                // wake-ups that came
  int pushedBack = 0;                           // wake-ups moved later while one was due

 private:
  static constexpr double kNever = 1e18;
  static double Seconds(Time t) {
    return t == Time::max() ? kNever : std::chrono::duration<double>(t - Time()).count();
  }
  static Time At(double s) {
    return Time() + std::chrono::duration_cast<Time::duration>(std::chrono::duration<double>(s));
  }
  bool Up() const { return up_(Elapsed()); }
  bool Open() {
    opened.push_back(Elapsed());
    seen_.push_back(Up());
    return Up();
  }

  std::function<bool(double)> up_;
  Time now_;
  double wake_ = kNever;
  double probeEnd_ = kNever;
  std::deque<Time> ready_;
  std::deque<bool> seen_;

 public:
  // Last: it reads the clock above when it starts.
  Upkeep upkeep{*this, [this] { return std::uniform_real_distribution<>()(random); }};
};

TEST(UpkeepRules, IdleForTenMinutesItKeepsOneAndOpensAtMostTwoAMinuteAtIrregularTimes) {
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
TEST(UpkeepRules, ALostRelayIsToldWithinAMinuteIdleAtOnceOnAClientsFailureAndItsReturnSoon) {
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

// The driver's own rule: a wake-up already due stays, so clients arriving
// every two seconds never push the renewal looks (every 5 s while clients
// come) away.
TEST(Upkeep, ClientsArrivingOftenNeverPushTheNextLookAway) {
  Simulation busy([](double) { return true; });
  std::set<double> clients;
  for (double t = 1; t < 120; t += 2) {
    clients.insert(t);
  }
  busy.Run(120, clients);
  EXPECT_EQ(busy.pushedBack, 0);
  EXPECT_GE(busy.woken, 120 / 5 - 1);
}

TEST(UpkeepRules, ASuspectIsProbedAtOnceLostOrNot) {
  for (const bool up : {true, false}) {
    Simulation run([up](double t) { return t < 100 || up; });
    run.Run(200);
    const std::size_t before = run.opened.size();
    run.upkeep.Suspect();  // the network changed, the machine woke
    run.Run(202);
    ASSERT_GT(run.opened.size(), before) << up;
    EXPECT_LE(run.opened[before], 201.0) << up << ": probes are a second apart at least";
  }
}

}  // namespace
}  // namespace warden
