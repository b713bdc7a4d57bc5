// Program entry: one instance per logon session, the hidden main window and
// the tray icon, the start-up, then the message loop until the main window
// closes.
#include <windows.h>

#include <stdexcept>

#include "app/TfrmMain.h"
#include "proxy/BrowserSwitch.h"
#include "win32/Guard.h"
#include "win32/MainWindow.h"
#include "win32/SingleInstance.h"
#include "win32/Win32AgentLauncher.h"
#include "win32/Win32Clock.h"
#include "win32/Win32Dialogs.h"
#include "win32/Win32Download.h"
#include "win32/Win32FileSystem.h"
#include "win32/Win32InternetSettings.h"
#include "win32/Win32NotificationArea.h"
#include "win32/Win32ProcessList.h"
#include "win32/Win32Profile.h"
#include "win32/Win32Registry.h"
#include "win32/Win32Shell.h"
#include "win32/Win32System.h"
#include "win32/Win32TopLevelWindows.h"

using namespace umbrane;

namespace {

constexpr const char* kNameTaken =
    "Umbrane can not start: another account on this computer has taken its name.";

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  win32::SingleInstance single("Umbrane");
  if (single.AlreadyRunning()) {
    return 0;  // the running instance is left alone and nothing is shown
  }
  if (single.NameTaken()) {
    (void)MessageBoxA(nullptr, kNameTaken, "Umbrane", MB_OK | MB_ICONERROR);
    return 1;
  }
  win32::WaitForEarlierGuard(5000);

  win32::Win32FileSystem files;
  win32::Win32Profile profile;
  win32::Win32Clock clock;
  win32::Win32System system;
  win32::Win32Shell shell;
  win32::Win32Dialogs dialogs;
  win32::Win32InternetSettings internet;
  win32::Win32AgentLauncher agents;
  win32::Win32ProcessList processes;
  win32::Win32TopLevelWindows windows;
  win32::Win32Registry registry;
  win32::Win32UrlFetcher fetcher(BuiltUpdatePins(), &internet);
  win32::Win32MessagePump pump;
  try {
    win32::MainWindow window(instance);
    dialogs.SetOwner(window.Hwnd());  // every box belongs to the program
    win32::Win32NotificationArea tray(instance);
    AppPorts ports{files, profile,       clock,  system, shell,   dialogs, window,
                   tray,  window.Menu(), window, agents, fetcher, pump};
    Globals globals;
    BrowserSwitch browsers(
        BrowserPorts{internet, files, profile, system, processes, windows, registry, dialogs},
        BrowserContext{globals.AppPath, globals.SkinFile, globals.DataPath});
    // Gives the browsers back should this program be ended from outside.
    browsers.SetStateSaved(
        [&globals] { return win32::StartGuard(globals.AppPath, globals.DataPath); });
    TfrmMain main(ports, browsers, globals);
    window.Attach(main);
    tray.Attach(&main);

    try {
      main.FormCreate();
      main.InitRun();
    } catch (const std::exception& e) {
      // An error that ends the start-up is shown; the program then closes
      // the regular way, so the shutdown sequence still runs.
      main.ShowException(e);
      window.Close();
    }

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
      // Tab, Enter and Escape work in the about window and the boxes the
      // program shows without waiting.
      if (win32::ModelessDialogMessage(msg)) {
        continue;
      }
      if (!IsWindowVisible(window.Hwnd()) || !IsDialogMessageA(window.Hwnd(), &msg)) {
        (void)TranslateMessage(&msg);
        (void)DispatchMessageA(&msg);
      }
    }
    tray.Attach(nullptr);
    dialogs.SetOwner(nullptr);
    return 0;
  } catch (const std::exception& e) {
    dialogs.SetOwner(nullptr);
    dialogs.ShowErrorBox(kApplicationTitle, e.what());
    return 1;
  }
}
