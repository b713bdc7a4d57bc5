// The controller's tunnel: what happens (a command, a tick, a status line
// of the agent, an answer) fed to the session as an event, and what the
// session decides carried out (Session.h): starting and ending the agent,
// the one-second poll of its output, the reconnect timer, the boxes.
#include <algorithm>
#include <deque>
#include <stdexcept>

#include "BuildConfig.h"
#include "app/Commands.h"
#include "app/TfrmMain.h"
#include "proxy/BypassList.h"
#include "proxy/SystemProxy.h"
#include "tunnel/AgentCommand.h"
#include "tunnel/StatusCodes.h"

namespace umbrane {

namespace {

// Each tick reads what the pipe holds, in chunks, up to this much: a chatty
// agent can never fill the pipe and block, and one tick stays short.
constexpr std::size_t kReadChunk = 4096;
constexpr std::size_t kReadPerTick = 256 * 1024;
// While output keeps coming a tick waits up to this long for more, this
// many times at most (so a tick stays well under its second).
constexpr unsigned kBurstPauseMs = 5;
constexpr unsigned kBurstPauses = 40;

constexpr const char* kRetryQuestion =
    "Umbrane can not connect to internet. If you have a personal firewall please setup it to let "
    "Umbrane pass. Do you want Umbrane to try it again?";

}  // namespace

void TfrmMain::Umbrane1Click() {
  Feed({SessionEventKind::Connect});
}

void TfrmMain::Umbrane() {
  Feed({SessionEventKind::Connect});
}

void TfrmMain::Feed(SessionEvent event) {
  std::deque<SessionEvent> events{std::move(event)};
  while (!events.empty() && !Ending()) {
    SessionStep step = Step(session_, std::move(events.front()));
    events.pop_front();
    session_ = step.next;
    for (const SessionAction& action : step.actions) {
      if (Ending()) {
        return;
      }
      if (auto found = Carry(action)) {
        events.push_back(std::move(*found));
      }
    }
  }
}

std::optional<SessionEvent> TfrmMain::Carry(const SessionAction& action) {
  switch (action.act) {
    case Act::StartAgent:
      return StartAgent();
    case Act::EndAgent:
      Sweep();
      break;
    case Act::ArmReconnect:
      timReset_.Arm(action.ms);
      break;
    case Act::DisarmReconnect:
      timReset_.Disarm();
      break;
    case Act::SwitchBrowsers:
      // This machine and the local and private addresses stay direct.
      lastApply_ = browsers_.SetBrowsersProxy(true, kLocalProxy, "usa", kLocalBypass);
      return SessionEvent{SessionEventKind::BrowsersSwitched, !lastApply_.kept.empty()};
    case Act::GiveBack:
      RestoreBrowsers();
      break;
    case Act::ReleasePort:
      ports_.agents.ReleasePort();
      break;
    case Act::WatchBrowsers:
      changedNames_ = browsers_.ChangedOutside();
      if (!changedNames_.empty()) {
        return SessionEvent{SessionEventKind::BrowsersChanged};
      }
      break;
    case Act::Ask:
      ports_.dialogs.ShowMessageBoxLater(
          kRetryQuestion, MessageKind::Warning, MessageButtons::YesNo,
          [this](MessageAnswer answer) { Dispatch([this, answer] { OnAnswer(answer); }); });
      break;
    case Act::Tell:
      ports_.dialogs.ShowMessageBoxLater(action.text, MessageKind::Error, MessageButtons::Ok,
                                         nullptr);
      break;
    case Act::TellSwitched:
      TellSwitched();
      break;
    case Act::TellChanged:
      // Only told, never written over: the other setting stays.
      for (const std::string& name : changedNames_) {
        Report("Browsers no longer use Umbrane: " + name + " changed outside Umbrane");
      }
      SetUmbraneStatus(kStatusOff, "Browsers no longer use Umbrane", kBalloonError);
      // Connect switches again; stop gives back what is still the program's.
      ports_.menu.SetEnabled(kCmdStopUmbrane1, true);
      break;
    case Act::Log:
      Report(action.text);
      break;
    case Act::Show:
      SetUmbraneStatus(action.kind, action.text, action.icon);
      break;
  }
  return std::nullopt;
}

std::optional<SessionEvent> TfrmMain::StartAgent() {
  if (!ports_.files.FileExists(g_.AppPath + kAgentFile)) {
    return SessionEvent{SessionEventKind::AgentMissing};
  }
  Sweep();  // one agent at a time
  if (agent_) {
    return std::nullopt;  // the old one could not be ended: a second would fight it for the port
  }
  // Held from here until the session is off, across every agent's end and
  // reconnect: no other program can take the port the browsers point at.
  if (std::string why = ports_.agents.HoldPort(kLocalPort); !why.empty()) {
    return SessionEvent{SessionEventKind::PortTaken, false, std::move(why)};
  }
  ports_.menu.SetEnabled(kCmdUmbrane1, false);
  ports_.menu.SetEnabled(kCmdStopUmbrane1, true);
  SetUmbraneStatus(kStatusBusy, "Connecting to Internet. Please wait...", kBalloonInfo);
  g_.AgentCommand = BuildAgentCommand(g_.AccessToken, build::kRelayAddress);
  agentOutput_ = AgentOutput();
  // The file just checked, by its full path: a warden.exe in the current
  // folder or on PATH never runs in its place.
  agent_ = ports_.agents.Start(g_.AppPath + kAgentFile, g_.AgentCommand);
  if (!agent_) {
    throw std::runtime_error("Error to start Umbrane Warden!");
  }
  timRead_.Arm(kReadInterval);
  return SessionEvent{SessionEventKind::AgentStarted};
}

void TfrmMain::Sweep() {
  timRead_.Disarm();
  if (!agent_) {
    return;
  }
  // An agent whose state cannot be asked may still run: it is ended all the
  // same (its handle is good). One that cannot be ended is kept, so that it
  // is never let go while it holds the port; a later sweep tries again.
  const auto code = agent_->ExitCode();
  if ((!code || *code == kStillActive) && !agent_->Terminate()) {
    if (!sessionEnding_) {
      ports_.dialogs.ShowMessageBoxLater("Can not close Umbrane Warden!", MessageKind::Error,
                                         MessageButtons::Ok, nullptr);
    }
    return;
  }
  // The handles go also when the agent had ended by itself.
  agent_.reset();
}

void TfrmMain::StopUmbrane1Click() {
  Feed({SessionEventKind::Stop});
}

void TfrmMain::timResetTimer() {
  timReset_.Disarm();
  Feed({SessionEventKind::ReconnectDue});
}

void TfrmMain::OnAnswer(MessageAnswer answer) {
  Feed({answer == MessageAnswer::Yes ? SessionEventKind::AnsweredYes
                                     : SessionEventKind::AnsweredNo});
  ProcessMsg();  // the lines that waited for the answer
}

void TfrmMain::timReadTimer() {
  if (!agent_ || !g_.AgentLines) {
    timRead_.Disarm();
    return;
  }
  const auto ended = [this] { return agent_->ExitCode().value_or(0) != kStillActive; };
  // Only this agent's own "ready" makes its end a death to recover from:
  // then its last words are not read.
  if (ended()) {
    Feed({SessionEventKind::AgentEnded});
    if (!agent_) {
      return;
    }
  }
  const std::size_t before = g_.AgentLines->Count();
  std::size_t read = 0;
  unsigned pauses = 0;
  while (read < kReadPerTick) {
    const auto waiting = agent_->Peek();
    if (!waiting) {
      // A broken pipe after the agent ended: its last line may lack an end.
      if (ended()) {
        agentOutput_.Flush(*g_.AgentLines);
      }
      break;
    }
    if (*waiting == 0) {
      // In the middle of a burst the agent refills the pipe within moments:
      // follow it for a little while, never longer than the tick allows.
      if (read == 0 || ++pauses > kBurstPauses || !agent_->AwaitOutput(kBurstPauseMs)) {
        break;
      }
      continue;
    }
    const std::string chunk = agent_->Read(std::min(*waiting, kReadChunk));
    if (chunk.empty()) {
      break;
    }
    read += chunk.size();
    agentOutput_.Feed(chunk, *g_.AgentLines);
  }
  if (g_.AgentLines->Count() > before) {
    ProcessMsg();
  }
  // Its last words were read first: a "160033" among them has failed the
  // connection already, a "160138" made it a session that is on.
  if (agent_) {
    Feed({SessionEventKind::Polled, ended()});
  }
}

void TfrmMain::ProcessMsg() {
  // AgentLines keeps only the lines not acted on yet: those read are
  // dropped when the loop ends (a run of weeks would otherwise keep all the
  // agent ever printed), and LineIndex counts every line read in the run.
  // While the question is up the lines wait for its answer.
  std::size_t read = 0;
  while (g_.AgentLines && !Ending() && session_.phase != Phase::Asking &&
         read < g_.AgentLines->Count()) {
    const std::string line = (*g_.AgentLines)[read];
    const std::string code = line.substr(0, 6);
    ++read;
    ++g_.LineIndex;
    const StatusLine* known = FindStatusLine(code);
    if (known == nullptr) {
      Report(code);
      continue;
    }
    if (known->log != nullptr) {
      Report(known->log);
    }
    OnAgentEvent(known->event, line);
  }
  if (g_.AgentLines) {
    g_.AgentLines->RemoveFirst(read);
  }
}

void TfrmMain::OnAgentEvent(AgentEvent event, const std::string& line) {
  switch (event) {
    case AgentEvent::None:
      break;
    case AgentEvent::Connected:
      Feed({SessionEventKind::AgentConnected});
      break;
    case AgentEvent::IdentifyFailed:
      if (line.find(status::kRelayNotVerified) != std::string::npos) {
        Report(line.substr(std::min<std::size_t>(line.size(), 7)));  // what did not match
        Feed({SessionEventKind::RelayNotVerified});
      }
      break;
    case AgentEvent::RelayLost:
      Feed({SessionEventKind::RelayLost});
      break;
    case AgentEvent::Ready:
      Feed({SessionEventKind::AgentReady,
            session_.browsersOn && lastApply_.AllTook() && browsers_.ChangedOutside().empty()});
      break;
    case AgentEvent::CannotConnect:
      Feed({SessionEventKind::ConnectFailed});
      break;
    case AgentEvent::UpdateError:
      Feed({SessionEventKind::UpdateError});
      break;
    case AgentEvent::RefusedStranger:
      // The agent tells it at most once a minute.
      Report(line.find(status::kOwnerUnknown) != std::string::npos
                 ? "Refused a connection from a program the system does not name"
                 : "Refused a connection from another user's program");
      break;
  }
}

}  // namespace umbrane
