// Where the tunnel session is, as one value, and the one place where it
// moves. The controller (TfrmMainTunnel.cpp, TfrmMainBrowsers.cpp) does
// what each event asks (start or end the agent, arm a timer, switch the
// browsers, ask) and then moves the session with NextSession; what it
// decides later (is an agent that ended a death or a failed connection?
// does a lost relay show busy?) it reads from here, not from flags.
#pragma once

namespace umbrane {

enum class Session {
  Off,             // no agent, nothing pending
  Connecting,      // the agent runs and has not been accepted by the relay yet
  Connected,       // the relay accepted the credentials ("160239")
  On,              // "160138", and the browsers took the local proxy
  RelayLost,       // on, but the relay is lost ("160037"): busy until it is back
  ChangedOutside,  // the agent is up, but a browser setting is not the program's
                   // (changed outside while on, or the system kept its own)
  RetryWait,       // a failed connection: the reconnect is armed
  Asking,          // the try-again question is up (the reconnect armed under it)
  DeathWait,       // the agent ended after its own "ready": reconnect in 5 s
};

enum class SessionEvent {
  AgentStarted,       // connect, a reconnect, or the update check's token
  AgentConnected,     // "160239"
  AgentReady,         // "160138", and the browsers took it
  BrowsersElsewhere,  // "160138" the system did not take, or a change outside
  RelayLost,          // "160037"
  ConnectFailed,      // "160033", an agent that ended or fell silent while connecting
  BudgetSpent,        // ... and no retry is left: the question
  AnsweredYes,        // try again in 30 s
  AnsweredNo,         // off
  AgentDied,          // an agent that was up ended by itself
  Stopped,            // stop, or a session that could not start and has nothing pending
};

// The session after `event`.
Session NextSession(Session state, SessionEvent event);

// The agent has said "ready": its end is a death to recover from, not a
// failed connection.
inline bool AgentUp(Session state) {
  return state == Session::On || state == Session::RelayLost || state == Session::ChangedOutside;
}

// The agent runs and has not said "ready": it must, or fail.
inline bool Connecting(Session state) {
  return state == Session::Connecting || state == Session::Connected;
}

}  // namespace umbrane
