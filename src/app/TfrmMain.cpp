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

void TfrmMain::FormCreate() {
  ports_.menu.SetEnabled(kCmdUmbrane1, false);
  for (int command :
       {kCmdStopUmbrane1, kCmdSeeMyIP1, kCmdReport1, kCmdHelp1, kCmdAbout1, kCmdExit1}) {
    ports_.menu.SetEnabled(command, true);
  }
  ctiControl_.SetIconList(&imlBusy);
  ctiControl_.SetIconIndex(0);
  ctiControl_.SetCycleIcons(false);
  ctiControl_.SetCycleInterval(0);
  ctiControl_.SetHint(kApplicationTitle);
  ctiControl_.SetShowHint(true);
  ctiControl_.SetIconVisible(true);
  ctiControl_.SetLeftPopup(false);
  ctiControl_.SetMinimizeToTray(true);
  ctiControl_.OnClick = [this] { ctiControlClick(); };
  ctiControl_.OnStartup = [this](bool& show) { ctiControlStartup(show); };
  ctiControl_.Loaded();
}

void TfrmMain::FormDestroy() {
  ctiControl_.Destroy();
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

bool TfrmMain::CloseQuery() {
  if (switching_ > 0) {
    pending_ = Pending::Exit;
    return false;
  }
  return true;
}

void TfrmMain::FormClose() {
  if (closed_) {
    return;
  }
  // Off first: a poll or reconnect under a restart notice of the restore
  // below could otherwise switch the browsers on again.
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

void TfrmMain::SetUmbraneStatus(std::uint8_t kind, const std::string& message,
                                std::uint8_t balloonIcon) {
  if (kind <= kStatusOff) {
    onShown_ = kind == kStatusOn;
  }
  switch (kind) {
    case kStatusBusy:
      ctiControl_.SetIconList(&imlBusy);
      ctiControl_.SetCycleInterval(300);
      ctiControl_.SetCycleIcons(true);
      ctiControl_.SetHint(message);
      ctiControl_.ShowBalloon(kApplicationTitle, message, balloonIcon, 10);
      break;
    case kStatusOn:
    case kStatusOff: {
      const bool on = kind == kStatusOn;
      ctiControl_.SetIconList(&imlStatus);
      ctiControl_.SetIconIndex(on ? 0 : 1);
      ctiControl_.SetCycleIcons(false);
      ctiControl_.SetHint(on ? "Umbrane ON" : "Umbrane OFF");
      ctiControl_.ShowBalloon(kApplicationTitle, message, balloonIcon, 10);
      ports_.menu.SetEnabled(kCmdUmbrane1, !on);
      ports_.menu.SetEnabled(kCmdStopUmbrane1, on);
      break;
    }
    default:
      break;  // any other kind changes nothing
  }
}

void TfrmMain::OnCommand(int command) {
  if (Ending()) {
    return;  // the program is closing: the menu can start nothing new
  }
  switch (command) {
    case kCmdUmbrane1:
      Umbrane1Click();
      break;
    case kCmdStopUmbrane1:
      StopUmbrane1Click();
      break;
    case kCmdAbout1:
      About1Click();
      break;
    case kCmdAboutOK:
      suitempbtnOKClick();
      break;
    case kCmdSeeMyIPLink:
    case kCmdSeeMyIP1:
      SeeMyIP1Click();
      break;
    case kCmdReport1:
      Report1Click();
      break;
    case kCmdHelp1:
      Help1Click();
      break;
    case kCmdExit1:
      Exit1Click();
      break;
    default:
      break;
  }
}

void TfrmMain::Umbrane1Click() {
  if (switching_ > 0) {
    if (pending_ != Pending::Exit) {
      pending_ = Pending::Connect;
    }
    return;
  }
  timReset_.Disarm();  // the user's connect replaces a pending reconnect
  Umbrane();
}

void TfrmMain::About1Click() {
  ctiControl_.ShowMainWindow();
}

void TfrmMain::ctiControlClick() {
  ctiControl_.ShowMainWindow();
}

void TfrmMain::suitempbtnOKClick() {
  ctiControl_.HideMainWindow();
}

void TfrmMain::ctiControlStartup(bool& showMainForm) {
  showMainForm = false;
}

void TfrmMain::SeeMyIP1Click() {
  ShellOpen(ports_.shell, build::kIpCheckUrl);
}

void TfrmMain::Report1Click() {
  ShellOpen(ports_.shell, g_.DataPath + "log.txt");
}

void TfrmMain::Help1Click() {
  ports_.shell.Open(helpFile_, ports_.form.Handle());
}

void TfrmMain::Exit1Click() {
  ports_.form.Close();
}

void TfrmMain::ShowException(const std::exception& error) {
  ports_.dialogs.ShowErrorBox(applicationTitle_.empty() ? kApplicationTitle : applicationTitle_,
                              TopLevelErrorText(error.what()));
}

void ShellOpen(IShell& shell, const std::string& target) {
  shell.Open(target, 0);
}

}  // namespace umbrane
