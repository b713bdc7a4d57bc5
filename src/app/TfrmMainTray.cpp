// The controller's face: the tray icon and its component set up, the status
// it shows (icon, tip, balloon, the connect and stop entries), and the menu's
// commands.
#include "BuildConfig.h"
#include "app/Commands.h"
#include "app/TfrmMain.h"

namespace umbrane {

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

void TfrmMain::SetUmbraneStatus(std::uint8_t kind, const std::string& message,
                                std::uint8_t balloonIcon) {
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

}  // namespace umbrane
