// The controller's start-up (folders, settings, skin), shutdown (given back,
// "Closing...", the agent ended), the activity log and the way every event
// (a command, a timer's tick) is run. The tunnel, the browsers, the tray face
// and the update check each have a file of their own (TfrmMain*.cpp).
#include "app/TfrmMain.h"

#include <utility>

#include "BuildConfig.h"
#include "app/Commands.h"
#include "app/ErrorText.h"
#include "base/Text.h"
#include "proxy/Probes.h"
#include "skin/Skin.h"

namespace umbrane {

TfrmMain::TfrmMain(AppPorts& ports, IBrowserSwitch& browsers, Globals& globals)
    : ports_(ports),
      browsers_(browsers),
      g_(globals),
      ctiControl_(ports.tray, ports.form, &ports.menu),
      timRead_(ports.timers, TimerId::Read),
      timReset_(ports.timers, TimerId::Reset) {
  browsers_.SetReporter([this](const std::string& message) { Report(message); });
}

void TfrmMain::InitRun() {
  if (InitSettings() && InitInterface()) {
    RecoverFromEarlierRun();
    SilentUpdate();
  }
  ShowLogFailure();  // the start-up is an event of its own
}

bool TfrmMain::InitSettings() {
  g_.AppPath = ExtractFilePath(ports_.system.ExecutablePath());
  // Another account that may change the program's folder could put its own
  // agent, guard or help file there, and they would run as this user.
  if (const std::string who = ports_.files.OthersWhoMayChange(g_.AppPath); !who.empty()) {
    FailStartup(std::string("Umbrane can not run from ")
                    .append(g_.AppPath)
                    .append(": ")
                    .append(who)
                    .append(" may change the files there, and so what Umbrane runs. Install "
                            "Umbrane for this user, or put it in a folder only you and the "
                            "administrators can change."));
    return false;
  }
  g_.DataPath = GetAppDataFolder(ports_.system) + "Umbrane";
  g_.TempPath = GetTempFolder(ports_.system);
  if (!EnsureFolder(ports_.files, g_.DataPath)) {
    FailStartup("Can not create Application Data folder");
    return false;
  }
  g_.DataPath = AddTrailingBackslash(g_.DataPath);
  g_.Settings = std::make_unique<IniFile>(ports_.profile, g_.DataPath + "umbrane.ini");
  applicationTitle_ = kApplicationTitle;
  g_.AgentLines = std::make_unique<LineList>();
  g_.LogLines = std::make_unique<LineList>();
  logFile_ = std::make_unique<LogFile>(ports_.files, g_.DataPath + "log.txt");
  g_.LineIndex = 0;
  helpFile_ = g_.AppPath + "help.chm";
  g_.SkinFile = g_.Settings->ReadString("Config", "Skin", g_.AppPath + "default.skn");
  g_.AccessToken = kDefaultAccessToken;
  return true;
}

bool TfrmMain::InitInterface() {
  if (!ports_.files.FileExists(g_.SkinFile)) {
    FailStartup("Can not find Skin File");
    return false;
  }
  ports_.form.ApplySkin(ReadSkin(ports_.profile, g_.SkinFile));
  const int labelWidth = ports_.form.SetAppNameCaption("Umbrane " + g_.VersionText);
  // Integer division truncates toward zero, as the layout rule wants.
  ports_.form.SetAppNameLeft((ports_.form.OuterWidth() - labelWidth) / 2);
  return true;
}

void TfrmMain::FailStartup(const std::string& message) {
  ports_.dialogs.ShowMessageBox(message, MessageKind::Error, MessageButtons::Ok);
  ports_.form.Close();
}

void TfrmMain::FormClose() {
  if (closed_) {
    return;
  }
  // Off first: nothing the session still decides may start or switch.
  closed_ = true;
  timRead_.Disarm();
  timReset_.Disarm();
  RestoreBrowsers();
  Report("Closing...");
  g_.AgentLines.reset();
  g_.LogLines.reset();
  logFile_.reset();
  g_.Settings.reset();
  Sweep();
  ports_.agents.ReleasePort();
}

bool TfrmMain::FormQueryEndSession() {
  return true;  // the shutdown runs when the end is certain, not now
}

void TfrmMain::FormEndSession(bool ending) {
  if (!ending) {
    return;  // another program cancelled the end: carry on
  }
  // Windows ends the program soon after this returns: give everything back
  // now, and ask nobody anything.
  sessionEnding_ = true;
  browsers_.SetSilent(true);
  logFailureShown_ = true;  // nobody is left to read it
  FormClose();
}

void TfrmMain::Report(const std::string& message) {
  if (!g_.LogLines || !logFile_) {
    return;  // before InitSettings or after FormClose there is no log
  }
  const std::string stamp = FormatLogStamp(ports_.clock.Now(), ports_.clock.TimeSeparator(),
                                           ports_.clock.DateSeparator());
  g_.LogLines->Add(FormatLogEntry(stamp, message));
  try {
    logFile_->Sync(*g_.LogLines);
  } catch (const LogWriteError& e) {
    // Whatever logged this goes on as if it had been written.
    if (!logFailureShown_ && logFailure_.empty()) {
      logFailure_ = e.what();
    }
  }
}

void TfrmMain::ShowLogFailure() {
  if (logFailure_.empty() || logFailureShown_ || awaitingReply_) {
    return;
  }
  logFailureShown_ = true;
  const std::string failure = std::exchange(logFailure_, std::string());
  ports_.dialogs.ShowErrorBox(applicationTitle_.empty() ? kApplicationTitle : applicationTitle_,
                              TopLevelErrorText(failure));
}

namespace {

// The form's timers and what each tick runs. An id not listed here changes
// nothing: a new timer must name its handler, never fall into another's.
struct FormTimerHandler {
  TimerId id;
  void (TfrmMain::*tick)();
};
constexpr FormTimerHandler kFormTimers[] = {
    {TimerId::Read, &TfrmMain::timReadTimer},
    {TimerId::Reset, &TfrmMain::timResetTimer},
};

}  // namespace

void TfrmMain::OnTimer(TimerId id) {
  if (Ending()) {
    return;
  }
  for (const FormTimerHandler& timer : kFormTimers) {
    if (timer.id == id) {
      Dispatch([this, &timer] { (this->*timer.tick)(); });
      return;
    }
  }
}

void TfrmMain::ShowException(const std::exception& error) {
  ports_.dialogs.ShowErrorBox(applicationTitle_.empty() ? kApplicationTitle : applicationTitle_,
                              TopLevelErrorText(error.what()));
}

void ShellOpen(IShell& shell, const std::string& target) {
  shell.Open(target, 0);
}

}  // namespace umbrane
