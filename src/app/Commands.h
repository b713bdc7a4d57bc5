// Command identifiers of the tray menu. They arrive at the main window as
// WM_COMMAND messages, so automation can drive the program by posting them
// just as the menu does.
#pragma once

namespace umbrane {

enum MenuCommand : int {
  kCmdUmbrane1 = 40001,
  kCmdStopUmbrane1 = 40002,
  kCmdSeeMyIP1 = 40003,
  kCmdReport1 = 40004,
  kCmdHelp1 = 40005,
  kCmdAbout1 = 40006,
  kCmdExit1 = 40007,
  // Controls of the about window.
  kCmdAboutOK = 40101,
  kCmdSeeMyIPLink = 40102,
};

}  // namespace umbrane
