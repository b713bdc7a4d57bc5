#include "app/Session.h"

#include <utility>

namespace umbrane {

namespace {

constexpr unsigned kRetryDelay = 10000;
constexpr unsigned kRetryAfterYesDelay = 30000;
constexpr unsigned kDeathDelay = 5000;

// Someone between this machine and the relay showed another key: a network
// that reads what passes, or a certificate the user was made to trust.
constexpr const char* kRelayIntercepted =
    "Umbrane could not verify its relay: the connection to it may be intercepted. Nothing was "
    "sent through it.";
constexpr const char* kPortTaken =
    "Umbrane can not use 127.0.0.1:7070, where the browsers reach the tunnel: ";

SessionAction Do(Act act) {
  return {act, {}, 0, 0, 0};
}
SessionAction Log(std::string text) {
  return {Act::Log, std::move(text), 0, 0, 0};
}
SessionAction Show(std::uint8_t kind, std::string text, std::uint8_t icon) {
  return {Act::Show, std::move(text), kind, icon, 0};
}
SessionAction Tell(std::string text) {
  return {Act::Tell, std::move(text), 0, 0, 0};
}
SessionAction Arm(unsigned ms) {
  return {Act::ArmReconnect, {}, 0, 0, ms};
}

// Builds one step: the state as it goes, the actions in order.
class Stepper {
 public:
  explicit Stepper(const SessionState& state) : step_{state, {}} {}

  SessionState& state() { return step_.next; }
  Stepper& Then(SessionAction action) {
    step_.actions.push_back(std::move(action));
    return *this;
  }
  Stepper& MoveTo(Phase phase) {
    step_.next.phase = phase;
    step_.next.polls = 0;
    return *this;
  }
  // Off, also for the browsers and the port: nothing follows.
  Stepper& Over() {
    MoveTo(Phase::Off);
    if (std::exchange(step_.next.browsersOn, false)) {
      Then(Do(Act::GiveBack));
    }
    return Then(Do(Act::ReleasePort));
  }
  // A connection that failed: counted, then a reconnect or the question.
  Stepper& Failed() {
    --state().retriesLeft;
    Then(Log("Can not connect to internet"))
        .Then(Do(Act::EndAgent))
        .Then(Log("Try again"))
        .Then(Arm(kRetryDelay))
        .MoveTo(Phase::RetryWait);
    if (state().retriesLeft > 0) {
      return *this;
    }
    return MoveTo(Phase::Asking).Then(Do(Act::Ask));
  }
  SessionStep Done() { return std::move(step_); }

 private:
  SessionStep step_;
};

}  // namespace

bool AgentUp(Phase phase) {
  return phase == Phase::On || phase == Phase::RelayLost || phase == Phase::ChangedOutside;
}

bool Connecting(Phase phase) {
  return phase == Phase::Connecting || phase == Phase::Connected;
}

SessionStep Step(const SessionState& state, SessionEvent event) {
  Stepper s(state);
  const Phase phase = state.phase;
  const bool running = Connecting(phase) || AgentUp(phase);
  // While the question is up nothing moves but its answer and a stop.
  if (phase == Phase::Asking && event.kind != SessionEventKind::AnsweredYes &&
      event.kind != SessionEventKind::AnsweredNo && event.kind != SessionEventKind::Stop) {
    return s.Done();
  }
  switch (event.kind) {
    case SessionEventKind::Connect:
      s.state().interceptionTold = false;
      s.Then(Do(Act::DisarmReconnect)).Then(Do(Act::StartAgent));
      break;
    case SessionEventKind::ReconnectDue:
      s.Then(Do(Act::StartAgent));
      break;
    case SessionEventKind::AgentStarted:
      s.MoveTo(Phase::Connecting);
      break;
    case SessionEventKind::AgentMissing:
      s.Then(Tell("Can not find Wardan")).Over();
      break;
    case SessionEventKind::PortTaken: {
      // No agent starts, and the browsers are not left pointing at
      // whoever holds the port.
      std::string text = std::string(kPortTaken).append(event.detail).append(".");
      s.Then(Do(Act::DisarmReconnect))
          .Then(Log(text))
          .Then(Show(kShowOff, "Umbrane OFF", kIconError))
          .MoveTo(Phase::Off);
      if (std::exchange(s.state().browsersOn, false)) {
        s.Then(Do(Act::GiveBack));
      }
      s.Then(Tell(std::move(text)));
      break;
    }
    case SessionEventKind::AgentConnected:
      s.state().polls = 0;
      if (phase == Phase::Connecting) {
        s.MoveTo(Phase::Connected);
      }
      break;
    case SessionEventKind::AgentReady:
      if (!running) {
        break;  // the word of an agent already ended
      }
      // Back after a lost relay, or a new agent: settings that are all
      // still the program's own need no switch (no file rewritten, no key
      // typed into Firefox, no restart notice).
      if (state.browsersOn && phase != Phase::ChangedOutside && event.fact) {
        s.MoveTo(Phase::On).Then(Do(Act::TellSwitched));
      } else {
        s.Then(Do(Act::SwitchBrowsers));
      }
      break;
    case SessionEventKind::BrowsersSwitched:
      if (!running) {
        break;
      }
      // On is only what the system took: where it kept its own, the agent
      // runs on, so that connect or its next "160138" tries again.
      s.state().browsersOn = true;
      s.MoveTo(event.fact ? Phase::ChangedOutside : Phase::On).Then(Do(Act::TellSwitched));
      break;
    case SessionEventKind::BrowsersChanged:
      if (phase == Phase::On) {
        s.MoveTo(Phase::ChangedOutside).Then(Do(Act::TellChanged));
      }
      break;
    case SessionEventKind::RelayLost:
      if (phase == Phase::On) {
        // Nothing loads until the relay is back; the browsers stay switched.
        s.MoveTo(Phase::RelayLost)
            .Then(Show(kShowBusy, "Disconnected from Internet", kIconWarning));
      }
      break;
    case SessionEventKind::RelayNotVerified:
      // Told once per connect of the user's: the reconnects that follow
      // would only say it again.
      if (!std::exchange(s.state().interceptionTold, true)) {
        s.Then(Tell(kRelayIntercepted));
      }
      break;
    case SessionEventKind::ConnectFailed:
      if (running) {
        s.Failed();
      }
      break;
    case SessionEventKind::AgentEnded:
      if (AgentUp(phase)) {
        s.Then(Log("Wardden stopped on exception"))
            .Then(Show(kShowOff, "Warden stopped on excepton", kIconInfo))
            .Then(Do(Act::EndAgent))
            .Then(Arm(kDeathDelay))
            .MoveTo(Phase::DeathWait);
      }
      break;
    case SessionEventKind::Polled:
      // While connecting, an agent that ended by itself (a crash, a missing
      // library, an antivirus) or that says nothing that moves the session
      // on for a minute has failed to connect.
      if (Connecting(phase) && event.fact) {
        s.Then(Log("Wardden stopped on exception")).Failed();
      } else if (Connecting(phase) && ++s.state().polls >= kConnectingPolls) {
        s.Then(Log("Connection time out")).Failed();
      } else if (phase == Phase::On && ++s.state().polls % kWatchPolls == 0) {
        s.Then(Do(Act::WatchBrowsers));
      }
      break;
    case SessionEventKind::AnsweredYes:
      if (phase == Phase::Asking) {
        s.Then(Do(Act::EndAgent))
            .Then(Log("Try to connect to Internet"))
            .Then(Arm(kRetryAfterYesDelay))
            .MoveTo(Phase::RetryWait);
      }
      break;
    case SessionEventKind::AnsweredNo:
      if (phase == Phase::Asking) {
        s.state().retriesLeft = kRetryBudget;
        s.Then(Do(Act::EndAgent))
            .Then(Do(Act::DisarmReconnect))
            .Then(Show(kShowOff, "Umbrane OFF", kIconInfo))
            .Over();
      }
      break;
    case SessionEventKind::Stop:
      // A stop is a stop: no reconnect follows it, and the browsers are
      // given back also when a run before this one left them switched.
      s.Then(Do(Act::DisarmReconnect)).Then(Do(Act::EndAgent)).Then(Do(Act::GiveBack));
      s.state().browsersOn = false;
      s.Over()
          .Then(Show(kShowOff, "User stopped Umbrane", kIconInfo))
          .Then(Log("User stopped Umbrane"));
      break;
    case SessionEventKind::UpdateError:
      // Only the display: the agent runs on and a later "160138" still counts.
      s.Then(Tell("SilentUpdate Error")).Then(Show(kShowOff, "SilentUpdate Error", kIconError));
      break;
  }
  return s.Done();
}

std::string Describe(const SessionAction& action) {
  switch (action.act) {
    case Act::StartAgent:
      return "StartAgent";
    case Act::EndAgent:
      return "EndAgent";
    case Act::ArmReconnect:
      return "Arm " + std::to_string(action.ms);
    case Act::DisarmReconnect:
      return "Disarm";
    case Act::SwitchBrowsers:
      return "Switch";
    case Act::GiveBack:
      return "GiveBack";
    case Act::ReleasePort:
      return "ReleasePort";
    case Act::WatchBrowsers:
      return "Watch";
    case Act::Ask:
      return "Ask";
    case Act::Tell:
      return "Tell " + action.text;
    case Act::TellSwitched:
      return "TellSwitched";
    case Act::TellChanged:
      return "TellChanged";
    case Act::Log:
      return "Log " + action.text;
    case Act::Show:
      return "Show " + std::to_string(action.kind) + " " + action.text;
  }
  return "?";
}

}  // namespace umbrane
