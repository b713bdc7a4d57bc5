// The controller's tunnel: starting and ending the agent, the one-second
// poll of its output, the reconnect timer, the stop command, and what each
// status code the agent prints makes the program do.
#include <algorithm>
#include <stdexcept>

#include "BuildConfig.h"
#include "app/Commands.h"
#include "app/TfrmMain.h"
#include "tunnel/AgentCommand.h"
#include "tunnel/StatusCodes.h"

namespace umbrane {

namespace {

constexpr unsigned kRetryDelay = 10000;
constexpr unsigned kRetryAfterYesDelay = 30000;
constexpr unsigned kDeathDelay = 5000;
// An agent that has said nothing that moves its session on (connected,
// ready, failed) for this many polls while connecting is a failed
// connection: no session waits for ever.
constexpr unsigned kConnectingPolls = 60;
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
// Someone between this machine and the relay showed another key: a network
// that reads what passes, or a certificate the user was made to trust.
constexpr const char* kRelayIntercepted =
    "Umbrane could not verify its relay: the connection to it may be intercepted. Nothing was "
    "sent through it.";
constexpr const char* kPortTaken =
    "Umbrane can not use 127.0.0.1:7070, where the browsers reach the tunnel: ";

}  // namespace

void TfrmMain::Umbrane1Click() {
  if (switching_ > 0) {
    if (pending_ != Pending::Exit) {
      pending_ = Pending::Connect;
    }
    return;
  }
  timReset_.Disarm();  // the user's connect replaces a pending reconnect
  interceptionTold_ = false;
  Umbrane();
}

void TfrmMain::Umbrane() {
  if (Ending()) {
    return;
  }
  if (!ports_.files.FileExists(g_.AppPath + kAgentFile)) {
    ports_.dialogs.ShowMessageBox("Can not find Wardan", MessageKind::Error, MessageButtons::Ok);
    // A session that cannot start, with no reconnect pending, is over: the
    // browsers must not stay on a proxy that nothing serves.
    if (!timReset_.Enabled()) {
      Move(SessionEvent::Stopped);
      if (browsersOnProxy_) {
        RestoreBrowsers();
      }
      LetPortGo();
    }
    return;
  }
  Sweep();  // one agent at a time
  if (agent_) {
    return;  // the old one could not be ended: a second would fight it for the port
  }
  // Held from here until the session is off, across every agent's end and
  // reconnect: no other program can take the port the browsers point at.
  if (const std::string why = ports_.agents.HoldPort(kLocalPort); !why.empty()) {
    PortTaken(why);
    return;
  }
  ports_.menu.SetEnabled(kCmdUmbrane1, false);
  ports_.menu.SetEnabled(kCmdStopUmbrane1, true);
  SetUmbraneStatus(kStatusBusy, "Connecting to Internet. Please wait...", kBalloonInfo);
  g_.AgentCommand = BuildAgentCommand(g_.AccessToken, build::kRelayAddress);
  agentOutput_ = AgentOutput();
  quietPolls_ = 0;
  // The file just checked, by its full path: a warden.exe in the current
  // folder or on PATH never runs in its place.
  agent_ = ports_.agents.Start(g_.AppPath + kAgentFile, g_.AgentCommand);
  if (!agent_) {
    throw std::runtime_error("Error to start Umbrane Warden!");
  }
  Move(SessionEvent::AgentStarted);
  timRead_.Arm(kReadInterval);
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
      ports_.dialogs.ShowMessageBox("Can not close Umbrane Warden!", MessageKind::Error,
                                    MessageButtons::Ok);
    }
    return;
  }
  // The handles go also when the agent had ended by itself.
  agent_.reset();
}

void TfrmMain::StopUmbrane1Click() {
  if (switching_ > 0) {
    if (pending_ != Pending::Exit) {
      pending_ = Pending::Stop;
    }
    return;
  }
  StopSession(true);
}

void TfrmMain::StopSession(bool restoreBrowsers) {
  timRead_.Disarm();
  timReset_.Disarm();  // a stop is a stop: no reconnect follows it
  Sweep();
  if (restoreBrowsers && RestoreBrowsers()) {
    return;  // an exit or a connect asked under the restore's notice took over
  }
  Move(SessionEvent::Stopped);
  LetPortGo();
  SetUmbraneStatus(kStatusOff, "User stopped Umbrane", kBalloonInfo);
  Report("User stopped Umbrane");
}

void TfrmMain::PortTaken(const std::string& why) {
  const std::string text = std::string(kPortTaken).append(why).append(".");
  timReset_.Disarm();
  Report(text);
  SetUmbraneStatus(kStatusOff, "Umbrane OFF", kBalloonError);
  Move(SessionEvent::Stopped);
  if (browsersOnProxy_) {
    RestoreBrowsers();
  }
  ports_.dialogs.ShowMessageBox(text, MessageKind::Error, MessageButtons::Ok);
}

void TfrmMain::LetPortGo() {
  if (session_ == Session::Off && !browsersOnProxy_) {
    ports_.agents.ReleasePort();
  }
}

void TfrmMain::timResetTimer() {
  timReset_.Disarm();
  Umbrane();
}

void TfrmMain::timReadTimer() {
  if (!agent_ || !g_.AgentLines) {
    timRead_.Disarm();
    return;
  }
  const std::uint32_t exitCode = agent_->ExitCode().value_or(0);
  // Only this agent's own "ready" makes its end a death to recover from;
  // what an earlier session reached does not decide.
  if (exitCode != kStillActive && AgentUp(session_)) {
    Move(SessionEvent::AgentDied);
    Report("Wardden stopped on exception");
    SetUmbraneStatus(kStatusOff, "Warden stopped on excepton", kBalloonInfo);
    Sweep();
    timReset_.Arm(kDeathDelay);
    return;
  }
  const std::size_t before = g_.AgentLines->Count();
  std::size_t read = 0;
  unsigned pauses = 0;
  while (read < kReadPerTick) {
    const auto waiting = agent_->Peek();
    if (!waiting) {
      // A broken pipe after the agent ended: its last line may lack an end.
      if (agent_->ExitCode().value_or(0) != kStillActive) {
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
  StillConnecting();
  WatchBrowsers();
}

// While connecting, an agent that ended by itself (a crash, a missing
// library, an antivirus) or that says nothing that moves the session on
// for a minute has failed to connect, as if it had said "160033": counted,
// reconnected or asked. Its last words were read first: a "160033" among
// them has done so already, a "160138" made it a session that is on.
void TfrmMain::StillConnecting() {
  if (!agent_ || !Connecting(session_) || Ending()) {
    return;
  }
  if (agent_->ExitCode().value_or(0) != kStillActive) {
    Report("Wardden stopped on exception");
    ConnectionFailed();
  } else if (++quietPolls_ >= kConnectingPolls) {
    Report("Connection time out");
    ConnectionFailed();
  }
}

void TfrmMain::ProcessMsg() {
  // The count is read again before each entry: a poll that runs under a
  // dialog opened here adds entries, and they are processed too. The index
  // moves before an entry is acted on, so each is processed once.
  // AgentLines keeps only the lines not read yet: read lines are dropped
  // when the loop ends (a run of weeks would otherwise keep all the agent
  // ever printed), and LineIndex counts every line read in the run.
  while (g_.AgentLines && !Ending() && agentLinesRead_ < g_.AgentLines->Count()) {
    const std::string line = (*g_.AgentLines)[agentLinesRead_];
    const std::string code = line.substr(0, 6);
    ++agentLinesRead_;
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
    g_.AgentLines->RemoveFirst(agentLinesRead_);
  }
  agentLinesRead_ = 0;
}

void TfrmMain::OnAgentEvent(AgentEvent event, const std::string& line) {
  switch (event) {
    case AgentEvent::None:
      break;
    case AgentEvent::Connected:
      g_.AgentState = 0;
      quietPolls_ = 0;
      Move(SessionEvent::AgentConnected);
      break;
    case AgentEvent::IdentifyFailed:
      if (line.find(status::kRelayNotVerified) != std::string::npos) {
        RelayNotVerified(line.substr(std::min<std::size_t>(line.size(), 7)));
      }
      break;
    case AgentEvent::RelayLost:
      if (onShown_) {
        // The relay is gone: nothing loads until it is back. The browsers
        // stay switched, as through every failure.
        SetUmbraneStatus(kStatusBusy, "Disconnected from Internet", kBalloonWarning);
      }
      Move(SessionEvent::RelayLost);
      break;
    case AgentEvent::Ready:
      g_.AgentState = 3;
      TunnelReady();
      break;
    case AgentEvent::CannotConnect:
      ConnectionFailed();
      break;
    case AgentEvent::UpdateError:
      ports_.dialogs.ShowMessageBox("SilentUpdate Error", MessageKind::Error, MessageButtons::Ok);
      SetUmbraneStatus(kStatusOff, "SilentUpdate Error", kBalloonError);
      break;
    case AgentEvent::RefusedStranger:
      // The agent tells it at most once a minute.
      Report(line.find(status::kOwnerUnknown) != std::string::npos
                 ? "Refused a connection from a program the system does not name"
                 : "Refused a connection from another user's program");
      break;
  }
}

void TfrmMain::RelayNotVerified(const std::string& why) {
  Report(why);  // the agent's words: what did not match
  // Told once per connect of the user's: the reconnects that follow would
  // only say it again (a portal that intercepts until the user logs in to
  // it passes, and then they succeed).
  if (!interceptionTold_) {
    interceptionTold_ = true;
    ports_.dialogs.ShowMessageBox(kRelayIntercepted, MessageKind::Error, MessageButtons::Ok);
  }
}

void TfrmMain::ConnectionFailed() {
  Report("Can not connect to internet");
  --g_.RetryCount;
  Sweep();
  Report("Try again");
  timReset_.Arm(kRetryDelay);
  Move(SessionEvent::ConnectFailed);
  if (g_.RetryCount > 0) {
    return;
  }
  Move(SessionEvent::BudgetSpent);
  const MessageAnswer answer =
      ports_.dialogs.ShowMessageBox(kRetryQuestion, MessageKind::Warning, MessageButtons::YesNo);
  if (Ending()) {
    return;  // closed while the question was up: the close gave everything back
  }
  Sweep();
  if (answer == MessageAnswer::Yes) {
    Move(SessionEvent::AnsweredYes);
    Report("Try to connect to Internet");
    timReset_.Arm(kRetryAfterYesDelay);
    return;
  }
  Move(SessionEvent::AnsweredNo);
  timReset_.Disarm();
  g_.RetryCount = 3;
  SetUmbraneStatus(kStatusOff, "Umbrane OFF", kBalloonInfo);
  // No reconnect follows: off means off, also for the browsers.
  if (browsersOnProxy_) {
    RestoreBrowsers();
  }
  LetPortGo();
}

}  // namespace umbrane
