#include "app/Session.h"

namespace umbrane {

Session NextSession(Session state, SessionEvent event) {
  switch (event) {
    case SessionEvent::AgentStarted:
      return Session::Connecting;
    case SessionEvent::AgentConnected:
      return state == Session::Connecting ? Session::Connected : state;
    case SessionEvent::AgentReady:
      return Connecting(state) || AgentUp(state) ? Session::On : state;
    case SessionEvent::BrowsersElsewhere:
      return Connecting(state) || AgentUp(state) ? Session::ChangedOutside : state;
    case SessionEvent::RelayLost:
      return state == Session::On ? Session::RelayLost : state;
    case SessionEvent::ConnectFailed:
      return Session::RetryWait;
    case SessionEvent::BudgetSpent:
      return Session::Asking;
    // The answer decides, whatever ran under the question meanwhile (a
    // reconnect started under it is ended by the answer).
    case SessionEvent::AnsweredYes:
      return Session::RetryWait;
    case SessionEvent::AnsweredNo:
      return Session::Off;
    case SessionEvent::AgentDied:
      return AgentUp(state) ? Session::DeathWait : state;
    case SessionEvent::Stopped:
      return Session::Off;
  }
  return state;
}

}  // namespace umbrane
