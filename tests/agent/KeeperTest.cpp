// The rules for the agent's own connections to its relay, over many minutes
// of virtual time: a scripted relay that is up or down at each moment, the
// keeper driven as RelayHealth drives it, every connection counted.
#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <functional>
#include <random>
#include <cstring>
#include <set>
#include <sstream>
#include <vector>

#include "Admission.h"
#include "RelayChoice.h"
#include "base/GrowingTable.h"
#include "RelayKeeper.h"
#include "Relays.h"

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

Time At(double s) {
  return Time() + std::chrono::duration_cast<Time::duration>(std::chrono::duration<double>(s));
}

// How a relay meets an attempt: it answers as itself or fails (refused,
// reset, another key) after `after` seconds; a black hole never does.
struct Meets {
  double after;
  bool answers;
};
constexpr Meets kGood{0.05, true}, kRefuses{0.01, false}, kBlackHole{1e9, false};

struct Dialled {
  std::vector<std::pair<std::size_t, double>> started;  // relay, when
  std::optional<std::size_t> winner;
};

// One new connection dialled by the rules from `t` on, each attempt given
// up after `limit` seconds, as RelayPool does over its sockets.
Dialled Dial(RelayChoice& choice, const std::vector<Meets>& relays, double t, double limit = 10) {
  Dialled d;
  DialPlan plan(choice.Candidates(At(t)), At(t));
  std::vector<std::pair<double, std::size_t>> running;  // end, relay
  for (double now = t;;) {
    for (const std::size_t relay : plan.Due(At(now))) {
      d.started.emplace_back(relay, now);
      running.emplace_back(now + std::min(relays[relay].after, limit), relay);
    }
    const auto first = std::min_element(running.begin(), running.end());
    const double look = std::chrono::duration<double>(plan.NextLook() - Time()).count();
    if (first == running.end() || look < first->first) {
      now = look;
      continue;
    }
    now = first->first;
    const std::size_t relay = first->second;
    running.erase(first);
    if (relays[relay].after <= limit && relays[relay].answers) {
      choice.Answered(relay);
      d.winner = relay;
      return d;  // the others are cancelled: neither answered nor failed
    }
    choice.Failed(relay, At(now));
    plan.Failed();
    if (plan.Exhausted()) {
      return d;
    }
  }
}

// The relay in use answers: no other is contacted. It does not: a second
// joins after 1.5 s of silence, at once after a failure, never more than
// two at once; the first to answer is used from then on.
TEST(RelayChoice, TheRelayInUseAloneWhileItAnswersThenTwoAtOnceStaggered) {
  using Started = std::vector<std::pair<std::size_t, double>>;
  const struct {
    const char* name;
    std::vector<Meets> relays;
    Started started;
    std::optional<std::size_t> winner;
  } cases[] = {
      {"answers", {kGood, kGood, kGood}, {{0, 0}}, 0},
      {"black hole", {kBlackHole, kGood, kGood}, {{0, 0}, {1, 1.5}}, 1},
      {"refuses", {kRefuses, kGood, kGood}, {{0, 0}, {1, 0.01}}, 1},
      {"two black holes", {kBlackHole, kBlackHole, kGood}, {{0, 0}, {1, 1.5}, {2, 10}}, 2},
      {"two refuse", {kRefuses, kRefuses, kGood}, {{0, 0}, {1, 0.01}, {2, 0.02}}, 2},
      {"slow but first", {{1.6, true}, kBlackHole, kGood}, {{0, 0}, {1, 1.5}}, 0},
      {"none", {kRefuses, kBlackHole, kRefuses}, {{0, 0}, {1, 0.01}, {2, 1.51}}, std::nullopt},
  };
  for (const auto& c : cases) {
    RelayChoice choice({0, 1, 2});
    const Dialled d = Dial(choice, c.relays, 0);
    ASSERT_EQ(d.started.size(), c.started.size()) << c.name;
    for (std::size_t i = 0; i < d.started.size(); ++i) {
      EXPECT_EQ(d.started[i].first, c.started[i].first) << c.name << " #" << i;
      EXPECT_NEAR(d.started[i].second, c.started[i].second, 1e-6) << c.name << " #" << i;
    }
    EXPECT_EQ(d.winner, c.winner) << c.name;
    EXPECT_EQ(choice.InUse(), c.winner.value_or(0)) << c.name;
  }
}

// A relay that fails again and again is tried after the others, for 10 s,
// then twice as long each time, up to 10 minutes; an answer ends its bench.
TEST(RelayChoice, OneThatKeepsFailingIsBenchedForLongerEachTime) {
  RelayChoice choice({0, 1});
  std::vector<double> benches;
  for (double t = 0, back = 0; benches.size() < 8; benches.push_back(back - t), t = back) {
    choice.Failed(0, At(t));
    for (back = t; choice.Candidates(At(back)).front() != 0;) {
      back += 1;  // still benched: the other comes first
    }
  }
  EXPECT_EQ(benches, (std::vector<double>{10, 20, 40, 80, 160, 320, 600, 600}));
  choice.Failed(1, At(1e4));
  choice.Failed(0, At(1e4 + 1));
  EXPECT_EQ(choice.Candidates(At(1e4 + 2)), (std::vector<std::size_t>{1, 0})) << "sooner back";
  EXPECT_TRUE(choice.Answered(1)) << "in use from now on";
  EXPECT_EQ(choice.InUse(), 1u);
}

// "2p 3": relays 192.0.2.2:80 (with a pin) and 192.0.2.3:80, as a list's
// text, or their names.
std::string ListOf(const std::string& relays) {
  std::istringstream words(relays);
  std::string text;
  for (std::string word; words >> word;) {
    text += "192.0.2." + std::to_string(std::stoi(word)) + ":80" +
            (word.back() == 'p' ? "=sk4P5mlGGOkCCA2nuX95tmSoPSmTxvF6PC8qW1gtD/w=," : ",");
  }
  return text;
}

// The list and the first tries: the relay found good last time, then the
// command line's (relay 1), then the others in random order; a kept list
// replaces the build's unless it is not one; a pinned build passes over
// relays without pins.
TEST(Relays, TheOneFoundGoodFirstThenTheCommandLinesThenTheOthersShuffled) {
  const RelayEntry commandLine{"192.0.2.1", 80, {"sk4P5mlGGOkCCA2nuX95tmSoPSmTxvF6PC8qW1gtD/w="}};
  const struct {
    const char* build;
    std::optional<std::string> kept;
    const char* lastGood;
    bool pinned;
    const char* list;
    const char* first;  // the first tries, in order
  } cases[] = {
      {"", {}, "", true, "1", "1"},
      {"2p 1p", {}, "", true, "2 1", "1"},
      {"2", {}, "", false, "1 2", "1 2"},
      {"2 3", {}, "3", false, "1 2 3", "3 1"},
      {"2 3 4", {}, "", false, "1 2 3 4", "1"},  // 2, 3, 4 in random order
      {"2", {}, "9", false, "1 2", "1"},         // last good no longer listed
      {"2", "5", "", false, "1 5", "1"},         // the kept list
      {"2", "999", "", false, "1 2", "1"},       // a kept list that is not one
      {"2 3p", {}, "2", true, "1 3", "1"},
  };
  for (const auto& c : cases) {
    const std::string label = std::string(c.build) + " kept " + c.kept.value_or("-");
    std::set<std::vector<std::size_t>> orders;
    for (unsigned seed = 1; seed <= 20; ++seed) {
      std::minstd_rand random(seed * 2654435761u);
      std::string note;
      const std::string lastGood = ListOf(c.lastGood);
      const Relays relays = ChooseRelays(
          commandLine, ListOf(c.build), c.kept ? std::optional(ListOf(*c.kept)) : std::nullopt,
          lastGood.substr(0, lastGood.find(',')), c.pinned, random, note);
      std::string names, first;
      for (std::size_t i = 0; i < relays.list.size(); ++i) {
        names += relays.list[i].Name() + ",";
        if (ListOf(c.first).size() > first.size()) {
          first += relays.list[relays.order[i]].Name() + ",";
        }
      }
      EXPECT_EQ(names, ListOf(c.list)) << label;
      EXPECT_EQ(first, ListOf(c.first)) << label;
      EXPECT_EQ(note.empty(), c.kept != "999") << label;
      orders.insert(relays.order);
    }
    EXPECT_EQ(orders.size() > 1, std::strlen(c.list) - std::strlen(c.first) > 2) << label;
  }
}

// Whose clients are served, and the refusals told at most once a minute
// with the count of those not told; a release build never serves a client
// whose owner the system does not name.
TEST(Admissions, OnlyTheUsersOwnAreServedAndRefusalsAreToldOnceAMinute) {
  const Admissions::Clock::time_point t0{};
  const struct {
    bool serveUnnamed;
    Owner owner;
    int atSecond;
    bool serve;
    const char* told;  // the start of the line, or "" for none
  } steps[] = {
      {false, Owner::ThisUser, 0, true, ""},
      {false, Owner::Gone, 0, false, ""},
      {false, Owner::Unknown, 1, false,
       "160246 refused a connection from a program the system "
       "does not name (table)"},
      {false, Owner::OtherUser, 30, false, ""},
      {false, Owner::Unknown, 59, false, ""},
      {false, Owner::OtherUser, 61, false,
       "160246 refused a connection from another user's "
       "program (table); 2 more since the last such note"},
      {true, Owner::Unknown, 0, true, "160325 the system does not say"},
      {true, Owner::Unknown, 1, true, ""},
      {true, Owner::OtherUser, 2, false, "160246 refused a connection from another user's"},
  };
  Admissions release(false);
  Admissions test(true);
  for (const auto& step : steps) {
    Admissions& rules = step.serveUnnamed ? test : release;
    const Admission got = rules.Admit({step.owner, "table"}, t0 + seconds(step.atSecond));
    const std::string line = got.code == nullptr ? "" : std::string(got.code) + " " + got.text;
    EXPECT_EQ(got.serve, step.serve) << step.atSecond << " s";
    EXPECT_EQ(line.rfind(step.told, 0), 0u) << step.atSecond << " s: " << line;
    EXPECT_EQ(line.empty(), *step.told == '\0') << line;
  }
}

// A table that keeps growing between the question and the read, faster
// than the room given for it, is asked again until it fits, not given up
// on after a few tries; a failure gives nothing.
TEST(GrowingTable, ReadAgainWhileItGrowsUntilItFitsOrFails) {
  const struct {
    int growsFor;  // reads before each of which it grew by half
    bool fails;    // ... and then the read fails
    bool read;
  } cases[] = {{0, false, true}, {12, false, true}, {3, true, false}};
  for (const auto& c : cases) {
    int reads = 0;
    std::uint32_t need = 20000;
    const auto table = umbrane::ReadGrowingTable([&](unsigned char*, std::uint32_t* size) {
      if (reads++ < c.growsFor) {
        need += need / 2;
      } else if (c.fails) {
        return umbrane::TableRead::Failed;
      }
      if (*size < need) {
        *size = need;
        return umbrane::TableRead::TooSmall;
      }
      return umbrane::TableRead::Done;
    });
    EXPECT_EQ(table.has_value(), c.read) << c.growsFor;
    if (table) {
      EXPECT_GE(table->size(), need) << "the buffer held the whole table";
      EXPECT_GT(reads, c.growsFor) << "read again as long as it grew";
    }
  }
}

}  // namespace
}  // namespace warden
