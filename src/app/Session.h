// The tunnel session as one value, and the one function that moves it: from
// the session and an event to the next session and the actions to carry
// out. It decides everything (is an agent that ended a death or a failed
// connection? does a lost relay show busy? ask, or reconnect?) and touches
// nothing: the controller (TfrmMainTunnel.cpp) carries the actions out and
// feeds back what they found as further events. What the tray shows
// follows from the actions, so the display never leads the session.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace umbrane {

enum class Phase {
  Off,             // no agent, nothing pending
  Connecting,      // the agent runs and has not been accepted by the relay yet
  Connected,       // the relay accepted the credentials ("160239")
  On,              // "160138", and the browsers took the local proxy
  RelayLost,       // on, but the relay is lost ("160037"): busy until it is back
  ChangedOutside,  // the agent is up, but a browser setting is not the program's
                   // (changed outside while on, or the system kept its own)
  RetryWait,       // a failed connection: the reconnect is armed
  Asking,          // the try-again question is up: nothing moves until it is answered
  DeathWait,       // the agent ended after its own "ready": reconnect in 5 s
};

// The connection failures a run may have before the user is asked.
inline constexpr int kRetryBudget = 3;

struct SessionState {
  Phase phase = Phase::Off;
  // Failures left before the question; counted over the run, not reset by
  // a success, and at or below 0 after a "Yes", so that each failure asks.
  int retriesLeft = kRetryBudget;
  // Polls since the phase last moved: while connecting, the polls in which
  // nothing moved the session on; while on, the ticks of the browsers' watch.
  unsigned polls = 0;
  bool interceptionTold = false;  // since the user's last connect
  bool browsersOn = false;        // the browsers point at the tunnel
  bool operator==(const SessionState&) const = default;
};

enum class SessionEventKind {
  Connect,           // the user's connect, or the update check's token
  ReconnectDue,      // the reconnect timer fired
  AgentStarted,      // ... and the agent runs
  AgentMissing,      // ... but there is no agent file
  PortTaken,         // ... but another program holds the local proxy's port
  AgentConnected,    // "160239"
  AgentReady,        // "160138"; fact: every browser setting is still the program's
  BrowsersSwitched,  // the apply ended; fact: the system kept its own somewhere
  BrowsersChanged,   // the watch found a setting changed outside the program
  RelayLost,         // "160037"
  RelayNotVerified,  // "160244" because the relay did not prove itself
  ConnectFailed,     // "160033"
  AgentEnded,        // a poll found the agent ended, before reading its words
  Polled,            // a poll read what the agent said; fact: the agent has ended
  AnsweredYes,       // to the try-again question
  AnsweredNo,
  Stop,         // the user's stop
  UpdateError,  // "160243"
};

struct SessionEvent {
  SessionEvent(SessionEventKind k, bool f = false, std::string d = {})
      : kind(k), fact(f), detail(std::move(d)) {}
  SessionEventKind kind;
  bool fact;           // what the kind's comment names
  std::string detail;  // PortTaken: who holds the port
};

enum class Act {
  StartAgent,       // end any agent, hold the port, start one: AgentStarted,
                    // AgentMissing or PortTaken follows
  EndAgent,         // end the agent (and its poll)
  ArmReconnect,     // in `ms`
  DisarmReconnect,  //
  SwitchBrowsers,   // to the tunnel: BrowsersSwitched follows
  GiveBack,         // the browsers' own settings back
  ReleasePort,      // another program may have it now
  WatchBrowsers,    // look for a change outside: BrowsersChanged may follow
  Ask,              // the try-again question: its answer follows, later
  Tell,             // `text` in an error box; nothing waits for it
  TellSwitched,     // what the apply read back, logged; on or kept shown
  TellChanged,      // the settings changed outside, logged; off shown
  Log,              // `text`
  Show,             // `text` with the status `kind` and balloon `icon`
};

struct SessionAction {
  Act act;
  std::string text;
  std::uint8_t kind = 0;
  std::uint8_t icon = 0;
  unsigned ms = 0;
  bool operator==(const SessionAction&) const = default;
};

struct SessionStep {
  SessionState next;
  std::vector<SessionAction> actions;
};

// Status kinds and balloon icons, as the tray shows them.
inline constexpr std::uint8_t kShowBusy = 0;
inline constexpr std::uint8_t kShowOn = 1;
inline constexpr std::uint8_t kShowOff = 2;
inline constexpr std::uint8_t kIconInfo = 1;
inline constexpr std::uint8_t kIconWarning = 2;
inline constexpr std::uint8_t kIconError = 3;

// An agent that says nothing that moves its session on for this many polls
// while connecting has failed to connect: no session waits for ever.
inline constexpr unsigned kConnectingPolls = 60;
// While on, the browsers are looked at every this many polls.
inline constexpr unsigned kWatchPolls = 2;

SessionStep Step(const SessionState& state, SessionEvent event);

// The agent has said "ready": its end is a death to recover from.
bool AgentUp(Phase phase);
// The agent runs and has not said "ready": it must, or fail.
bool Connecting(Phase phase);

// One action as a line of text ("Arm 10000", "Log Try again"), for logs of
// what the session did and for tests.
std::string Describe(const SessionAction& action);

}  // namespace umbrane
