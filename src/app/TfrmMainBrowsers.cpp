// The controller's side of the browsers: what a switch to the tunnel read
// back (on only for what the system took), giving them back, and what an
// earlier run left switched.
#include <utility>

#include "app/Commands.h"
#include "app/TfrmMain.h"

namespace umbrane {

void TfrmMain::TellSwitched() {
  if (!lastApply_.kept.empty()) {
    // On is only what the system took: the agent runs on, so that connect
    // or its next "160138" tries again.
    for (const std::string& connection : lastApply_.kept) {
      Report(connection + ": the system kept its own proxy settings");
    }
    SetUmbraneStatus(kStatusOff,
                     lastApply_.kept.front() + ": the system kept its own proxy settings",
                     kBalloonError);
    return;
  }
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

void TfrmMain::RestoreBrowsers(std::string* unreadable) {
  SwitchOutcome outcome = browsers_.SetBrowsersProxy(false, "", "", "");
  if (unreadable != nullptr) {
    *unreadable = std::move(outcome.unreadableState);
  }
  lastApply_ = {};
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
