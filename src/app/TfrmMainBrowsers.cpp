// The controller's side of the browsers: switching them to the tunnel
// when the agent is ready (and telling on only for what the system took),
// watching them while on, giving them back, and a command the user gave
// while a switch held a notice open.
#include <utility>

#include "app/Commands.h"
#include "app/TfrmMain.h"
#include "proxy/BypassList.h"
#include "proxy/SystemProxy.h"

namespace umbrane {

namespace {

// While on, the browsers' settings are looked at every this many polls, so a
// change made outside the program is noticed within a few seconds.
constexpr unsigned kWatchTicks = 2;

}  // namespace

namespace {

// Counts a switch under way, also when it is left by an error.
class SwitchScope {
 public:
  explicit SwitchScope(int& depth) : depth_(depth) { ++depth_; }
  SwitchScope(const SwitchScope&) = delete;
  SwitchScope& operator=(const SwitchScope&) = delete;
  ~SwitchScope() { --depth_; }

 private:
  int& depth_;
};

}  // namespace

void TfrmMain::TunnelReady() {
  // Back after a lost relay, or a new agent: settings that are all still
  // the program's own need no switch (no file rewritten, no key typed into
  // Firefox, no restart notice).
  const bool stillOurs = browsersOnProxy_ && !changedOutside_ && lastApply_.AllTook() &&
                         browsers_.ChangedOutside().empty();
  if (!stillOurs && ApplyBrowsers()) {
    return;  // stopped, reconnected or closing: the tunnel is not on
  }
  if (!lastApply_.kept.empty()) {
    // On is only what the system took: the agent runs on, so that connect
    // or its next "160138" tries again.
    for (const std::string& connection : lastApply_.kept) {
      Report(connection + ": the system kept its own proxy settings");
    }
    Move(SessionEvent::BrowsersElsewhere);
    SetUmbraneStatus(kStatusOff,
                     lastApply_.kept.front() + ": the system kept its own proxy settings",
                     kBalloonError);
    return;
  }
  Move(SessionEvent::AgentReady);
  for (const std::string& browser : lastApply_.notWritten) {
    Report(browser + ": its proxy settings could not be written");
  }
  // Not switched, and said so: a browser that follows a policy instead.
  // Switched, but a browser's WebRTC may go around the tunnel: said once a
  // run, with what can stop it.
  std::vector<std::string> notes = lastApply_.byPolicy;
  notes.insert(notes.end(), lastApply_.webRtc.begin(), lastApply_.webRtc.end());
  for (const std::string& line : notes) {
    Report(line);
  }
  Report("Umbrane ON");
  const bool whole = lastApply_.notWritten.empty() && notes.empty();
  SetUmbraneStatus(kStatusOn, notes.empty() ? "Umbrane ON" : "Umbrane ON. " + notes.front(),
                   whole ? kBalloonInfo : kBalloonWarning);
}

void TfrmMain::WatchBrowsers() {
  if (!onShown_ || switching_ > 0 || ++watchTicks_ % kWatchTicks != 0) {
    return;
  }
  const std::vector<std::string> changed = browsers_.ChangedOutside();
  if (changed.empty()) {
    return;
  }
  // Only told, never written over: the other setting stays.
  changedOutside_ = true;
  Move(SessionEvent::BrowsersElsewhere);
  for (const std::string& name : changed) {
    Report("Browsers no longer use Umbrane: " + name + " changed outside Umbrane");
  }
  SetUmbraneStatus(kStatusOff, "Browsers no longer use Umbrane", kBalloonError);
  // Connect switches again; stop gives back what is still the program's.
  ports_.menu.SetEnabled(kCmdStopUmbrane1, true);
}

bool TfrmMain::ApplyBrowsers() {
  {
    SwitchScope scope(switching_);
    // This machine and the local and private addresses stay direct.
    lastApply_ = browsers_.SetBrowsersProxy(true, kLocalProxy, "usa", kLocalBypass);
  }
  changedOutside_ = false;
  browsersOnProxy_ = true;
  return RunPendingCommand(true);
}

bool TfrmMain::RestoreBrowsers(std::string* unreadable) {
  {
    SwitchScope scope(switching_);
    SwitchOutcome outcome = browsers_.SetBrowsersProxy(false, "", "", "");
    if (unreadable != nullptr) {
      *unreadable = std::move(outcome.unreadableState);
    }
  }
  browsersOnProxy_ = false;
  changedOutside_ = false;
  lastApply_ = {};
  return RunPendingCommand(false);
}

bool TfrmMain::RunPendingCommand(bool afterApply) {
  if (switching_ > 0) {
    return false;  // still inside an outer switch, which runs it
  }
  if (closed_) {
    return true;  // the session ended under the notice: nothing goes on
  }
  const Pending pending = std::exchange(pending_, Pending::None);
  switch (pending) {
    case Pending::Exit:
      exitAsked_ = true;
      ports_.form.Close();
      return true;
    case Pending::Stop:
      // After a restore the browsers are back already: the rest of the
      // stop still ends the session.
      StopSession(afterApply);
      return true;
    case Pending::Connect:
      Umbrane1Click();
      return true;
    case Pending::None:
      break;
  }
  return false;
}

void TfrmMain::RecoverFromEarlierRun() {
  if (!browsers_.HasSavedState()) {
    return;
  }
  std::string unreadable;
  RestoreBrowsers(&unreadable);
  if (unreadable.empty()) {
    Report("Browsers restored: the previous run ended while they used Umbrane");
  } else {
    // The browsers may still point at the tunnel, which is not up: only
    // the user knows what they held (the log has it too).
    ports_.dialogs.ShowMessageBox(unreadable, MessageKind::Warning, MessageButtons::Ok);
  }
}

}  // namespace umbrane
