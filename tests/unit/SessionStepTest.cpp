// The session's one step, on its own: every phase with every event, and the
// rules that read the session's memory (retries, polls, what was told).
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/Session.h"

namespace umbrane {
namespace {

using K = SessionEventKind;
using P = Phase;

const std::vector<P> kAll = {P::Off,       P::Connecting, P::Connected,
                             P::On,        P::RelayLost,  P::ChangedOutside,
                             P::RetryWait, P::Asking,     P::DeathWait};
const std::vector<P> kNotAsking = {P::Off,       P::Connecting,     P::Connected, P::On,
                                   P::RelayLost, P::ChangedOutside, P::RetryWait, P::DeathWait};
const std::vector<P> kRunning = {P::Connecting, P::Connected, P::On, P::RelayLost,
                                 P::ChangedOutside};
const std::vector<P> kUp = {P::On, P::RelayLost, P::ChangedOutside};
const std::vector<P> kConnecting = {P::Connecting, P::Connected};

const std::string kFailed = "Log Can not connect to internet; EndAgent; Log Try again; Arm 10000";
const std::string kTaken =
    "Umbrane can not use 127.0.0.1:7070, where the browsers reach the tunnel: used by x.";

std::string Actions(const SessionStep& step) {
  std::string all;
  for (const SessionAction& action : step.actions) {
    all += (all.empty() ? "" : "; ") + Describe(action);
  }
  return all;
}

// From the session {phase, 2 retries left, no polls, nothing told, the
// browsers on the tunnel}: every pair not in the table leaves the phase as
// it is and does nothing.
TEST(SessionStep, EveryPhaseAndEventDoesWhatItsRowSays) {
  struct Row {
    std::vector<P> from;
    K kind;
    std::optional<bool> fact;  // either, when not given
    std::optional<P> to;       // the same phase, when not given
    std::string actions;
  };
  const Row rows[] = {
      // clang-format off
      {kNotAsking, K::Connect, {}, {}, "Disarm; StartAgent"},
      {kNotAsking, K::ReconnectDue, {}, {}, "StartAgent"},
      {kNotAsking, K::AgentStarted, {}, P::Connecting, ""},
      {kNotAsking, K::AgentMissing, {}, P::Off, "Tell Can not find Wardan; GiveBack; ReleasePort"},
      {kNotAsking, K::PortTaken, {}, P::Off,
       "Disarm; Log " + kTaken + "; Show 2 Umbrane OFF; GiveBack; Tell " + kTaken},
      {{P::Connecting}, K::AgentConnected, {}, P::Connected, ""},
      {kRunning, K::AgentReady, false, {}, "Switch"},
      {{P::Connecting, P::Connected, P::On, P::RelayLost}, K::AgentReady, true, P::On, "TellSwitched"},
      {{P::ChangedOutside}, K::AgentReady, true, {}, "Switch"},
      {kRunning, K::BrowsersSwitched, false, P::On, "TellSwitched"},
      {kRunning, K::BrowsersSwitched, true, P::ChangedOutside, "TellSwitched"},
      {{P::On}, K::BrowsersChanged, {}, P::ChangedOutside, "TellChanged"},
      {{P::On}, K::RelayLost, {}, P::RelayLost, "Show 0 Disconnected from Internet"},
      {kNotAsking, K::RelayNotVerified, {}, {}, "Tell Umbrane could not verify its relay: the "
       "connection to it may be intercepted. Nothing was sent through it."},
      {kRunning, K::ConnectFailed, {}, P::RetryWait, kFailed},
      {kUp, K::AgentEnded, {}, P::DeathWait,
       "Log Wardden stopped on exception; Show 2 Warden stopped on excepton; EndAgent; Arm 5000"},
      {kConnecting, K::Polled, true, P::RetryWait, "Log Wardden stopped on exception; " + kFailed},
      {{P::Asking}, K::AnsweredYes, {}, P::RetryWait,
       "EndAgent; Log Try to connect to Internet; Arm 30000"},
      {{P::Asking}, K::AnsweredNo, {}, P::Off,
       "EndAgent; Disarm; Show 2 Umbrane OFF; GiveBack; ReleasePort"},
      {kAll, K::Stop, {}, P::Off, "Disarm; EndAgent; GiveBack; ReleasePort; "
       "Show 2 User stopped Umbrane; Log User stopped Umbrane"},
      {kNotAsking, K::UpdateError, {}, {}, "Tell SilentUpdate Error; Show 2 SilentUpdate Error"},
      // clang-format on
  };
  std::map<const Row*, int> used;
  for (int k = 0; k <= static_cast<int>(K::UpdateError); ++k) {
    for (const P phase : kAll) {
      for (const bool fact : {false, true}) {
        const K kind = static_cast<K>(k);
        SCOPED_TRACE(testing::Message() << "phase " << static_cast<int>(phase) << ", event " << k
                                        << ", fact " << fact);
        const Row* row = nullptr;
        for (const Row& r : rows) {
          const bool from = std::find(r.from.begin(), r.from.end(), phase) != r.from.end();
          if (r.kind == kind && from && (!r.fact || *r.fact == fact)) {
            row = &r;
          }
        }
        SessionState state{phase, 2, 0, false, true};
        const SessionStep step = Step(state, {kind, fact, "used by x"});
        EXPECT_EQ(step.next.phase, row != nullptr && row->to ? *row->to : phase);
        EXPECT_EQ(Actions(step), row != nullptr ? row->actions : "");
        ++used[row];
      }
    }
  }
  for (const Row& row : rows) {
    EXPECT_GT(used[&row], 0) << "a row no pair reaches";
  }
}

// What the step remembers, and what it decides from that memory.
TEST(SessionStep, TheMemoryDecidesRetriesWatchAndWhatIsTold) {
  const struct {
    const char* name;
    SessionState from;
    SessionEvent event;
    SessionState to;
    std::string actions;
  } rows[] = {
      // clang-format off
      {"the last retry asks", {P::Connecting, 1}, {K::ConnectFailed}, {P::Asking, 0},
       kFailed + "; Ask"},
      {"after a yes each failure asks", {P::On, 0}, {K::ConnectFailed}, {P::Asking, -1},
       kFailed + "; Ask"},
      {"no restores the budget", {P::Asking, 0, 0, false, false}, {K::AnsweredNo}, {P::Off, 3},
       "EndAgent; Disarm; Show 2 Umbrane OFF; ReleasePort"},
      {"a quiet poll counts", {P::Connecting, 2, 58}, {K::Polled}, {P::Connecting, 2, 59}, ""},
      {"a minute of quiet fails", {P::Connected, 2, 59}, {K::Polled}, {P::RetryWait, 1},
       "Log Connection time out; " + kFailed},
      {"connected counts quiet afresh", {P::Connecting, 2, 40}, {K::AgentConnected},
       {P::Connected, 2, 0}, ""},
      {"the watch every second poll", {P::On, 2, 1, false, true}, {K::Polled},
       {P::On, 2, 2, false, true}, "Watch"},
      {"the watch waits a poll", {P::On, 2, 2, false, true}, {K::Polled},
       {P::On, 2, 3, false, true}, ""},
      {"told once", {P::Connecting, 2, 0, true}, {K::RelayNotVerified},
       {P::Connecting, 2, 0, true}, ""},
      {"a connect may tell again", {P::Off, 2, 0, true}, {K::Connect}, {P::Off, 2, 0, false},
       "Disarm; StartAgent"},
      {"ready with the browsers direct switches", {P::Connected, 2, 0, false, false},
       {K::AgentReady, true}, {P::Connected, 2}, "Switch"},
      {"a switch puts the browsers on", {P::Connected, 2}, {K::BrowsersSwitched},
       {P::On, 2, 0, false, true}, "TellSwitched"},
      {"a stop gives them back", {P::On, 2, 7, false, true}, {K::Stop}, {P::Off, 2},
       "Disarm; EndAgent; GiveBack; ReleasePort; Show 2 User stopped Umbrane; Log User stopped Umbrane"},
      // clang-format on
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    const SessionStep step = Step(row.from, row.event);
    EXPECT_EQ(step.next, row.to);
    EXPECT_EQ(Actions(step), row.actions);
  }
}

}  // namespace
}  // namespace umbrane
