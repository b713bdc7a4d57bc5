// Which relay, and when: the dialling rules over virtual time, the bench of
// one that keeps failing, and the list's order of first tries.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <sstream>
#include <vector>

#include "relay/RelayChoice.h"
#include "relay/Relays.h"

namespace warden {
namespace {

using std::chrono::seconds;
using Time = RelayChoice::Clock::time_point;

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

}  // namespace
}  // namespace warden
