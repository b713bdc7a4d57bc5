// The Firefox, Opera and Netscape steps with the real adapters under Wine:
// the registry, the profile functions, the directory search and keys typed
// into Firefox's window (a stand-in firefox.exe), never a lookalike's.
#include <gtest/gtest.h>
#include <windows.h>

#include <vector>

#include "Folders.h"
#include "RegistryValue.h"
#include "WaitFor.h"
#include "proxy/BrowserPolicies.h"
#include "proxy/FirefoxProxy.h"
#include "proxy/NetscapeProxy.h"
#include "proxy/OperaProxy.h"
#include "proxy/Probes.h"
#include "win32/Win32Dialogs.h"
#include "win32/Win32FileSystem.h"
#include "win32/Win32InternetSettings.h"
#include "win32/Win32ProcessList.h"
#include "win32/Win32Profile.h"
#include "win32/Win32Registry.h"
#include "win32/Win32System.h"
#include "win32/Win32TopLevelWindows.h"

namespace umbrane::win32 {
namespace {

using testing::RegistryValue;
using testing::ScratchFolder;
using testing::WaitFor;

struct RealPorts {
  Win32InternetSettings internet;
  Win32FileSystem files;
  Win32Profile profile;
  Win32System system;
  Win32ProcessList processes;
  Win32TopLevelWindows windows;
  Win32Registry registry;
  Win32Dialogs dialogs;
  BrowserPorts ports{internet, files, profile, system, processes, windows, registry, dialogs};
};

TEST(Win32Registry, ReadsAStringOfTheCurrentUser) {
  RegistryValue value("Software\\UmbraneTest\\Extensions", "umbrane@umbrane.app", "C:\\ext\\");
  Win32Registry registry;
  EXPECT_EQ(registry.ReadUserString("Software\\UmbraneTest\\Extensions", "umbrane@umbrane.app"),
            "C:\\ext\\");
  EXPECT_FALSE(registry.ReadUserString("Software\\UmbraneTest\\Extensions", "other@x"));
  EXPECT_FALSE(registry.ReadUserString("Software\\UmbraneTest\\Missing", "umbrane@umbrane.app"));
}

// An administrator's policy for Chrome in the machine's registry, read the
// way the program reads it.
TEST(Win32Registry, AMachinePolicyForChromesProxyIsFound) {
  Win32Registry registry;
  EXPECT_TRUE(BrowsersProxiedByPolicy(registry).empty());
  RegistryValue policy("Software\\Policies\\Google\\Chrome", "ProxyMode", "fixed_servers",
                       HKEY_LOCAL_MACHINE);
  EXPECT_EQ(registry.ReadMachineString("Software\\Policies\\Google\\Chrome", "ProxyMode"),
            "fixed_servers");
  EXPECT_FALSE(registry.ReadUserString("Software\\Policies\\Google\\Chrome", "ProxyMode"));
  EXPECT_EQ(BrowsersProxiedByPolicy(registry),
            std::vector<std::string>{"Chrome does not use Umbrane: its proxy is set by policy "
                                     "(ProxyMode fixed_servers)"});
}

TEST(Win32Profile, OperaKeyIsWrittenWithEveryOtherKeyKept) {
  ScratchFolder folder("umbrane-opera");
  const std::string ini = folder.Path() + "opera6.ini";
  ASSERT_TRUE(folder.Write("opera6.ini",
                           "[User Prefs]\r\nHome URL=about:blank\r\n\r\n[Proxy]\r\nUse HTTP=1\r\n"
                           "Automatic Proxy Configuration URL=http://corp/x.pac\r\n"));
  Win32Profile profile;
  ASSERT_TRUE(profile.WriteString(ini, "Proxy", "Automatic Proxy Configuration URL",
                                  "C:\\Umbrane\\umbrane.pac"));
  EXPECT_EQ(profile.ReadString(ini, "Proxy", "Automatic Proxy Configuration URL", ""),
            "C:\\Umbrane\\umbrane.pac");
  EXPECT_EQ(profile.ReadString(ini, "Proxy", "Use HTTP", ""), "1");
  EXPECT_EQ(profile.ReadString(ini, "User Prefs", "Home URL", ""), "about:blank");
}

TEST(Win32FileSystem, FirstMatchFindsAProfileFolder) {
  ScratchFolder folder("umbrane-profile");
  ASSERT_TRUE(CreateDirectoryA((folder.Path() + "x1y2.slt").c_str(), nullptr));
  Win32FileSystem files;
  EXPECT_EQ(files.FirstMatch(folder.Path() + "*.slt"), "x1y2.slt");
  EXPECT_FALSE(files.FirstMatch(folder.Path() + "*.none"));
}

// A window of this test's process with Firefox's title and class: a
// program that only looks like Firefox. It records the keys it receives.
class FirefoxLookalike {
 public:
  FirefoxLookalike() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = &Proc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "MozillaWindowClass";
    (void)RegisterClassA(&wc);
    hwnd_ = CreateWindowA(wc.lpszClassName, "Start Page - Mozilla Firefox", WS_OVERLAPPEDWINDOW,
                          100, 100, 300, 200, nullptr, nullptr, wc.hInstance, nullptr);
    ShowWindow(hwnd_, SW_SHOW);
    keys.clear();
  }
  ~FirefoxLookalike() { DestroyWindow(hwnd_); }
  HWND Get() const { return hwnd_; }

  static inline std::vector<KeyStroke> keys;

 private:
  static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_KEYDOWN || message == WM_KEYUP) {
      keys.push_back({static_cast<std::uint8_t>(wParam), message == WM_KEYUP});
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  HWND hwnd_ = nullptr;
};

void PumpMessages() {
  MSG msg;
  while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
}

// The hand-off file, then the chord: only to a window of a firefox.exe
// process with Firefox's class, never to a lookalike in front of it.
TEST(FirefoxStep, HandOffFileAndTheChordReachOnlyFirefoxsOwnWindow) {
  ScratchFolder folder("umbrane-firefox");
  RegistryValue registration(kFirefoxExtensionsKey, kFirefoxExtensionId, folder.Path());
  const std::string exe = folder.Path() + "firefox.exe";
  ASSERT_TRUE(CopyFileA(testing::HostPath(UMBRANE_FIREFOX_LOOKALIKE).c_str(), exe.c_str(), FALSE));
  const std::string record = folder.Path() + "keys.txt";
  std::string commandLine = "firefox.exe " + record;
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION firefox = {};
  ASSERT_TRUE(CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                             nullptr, &startup, &firefox));
  Win32TopLevelWindows windows;
  WindowId found = 0;
  EXPECT_TRUE(WaitFor([&] { return (found = FindFirefoxWindow(windows)) != 0; }));
  EXPECT_EQ(windows.ProgramName(found), "firefox.exe");
  FirefoxLookalike lookalike;  // on top now, with Firefox's title and class
  PumpMessages();
  EXPECT_EQ(FindFirefoxWindow(windows), found) << "the lookalike is not Firefox";

  RealPorts real;
  EXPECT_TRUE(SetFirefoxExtensionProxy(real.ports, true, "127.0.0.1:7070", "usa", ""))
      << "Firefox's window in front";
  EXPECT_EQ(GetForegroundWindow(), reinterpret_cast<HWND>(found));
  EXPECT_EQ(real.files.ReadFile(folder.Path() + "umbrane.tmp"),
            "-1\r\n127.0.0.1\r\n7070\r\nusa\r\n\r\n");
  const std::string chord = "down 17\ndown 16\ndown 72\nup 17\nup 16\nup 72\n";
  EXPECT_TRUE(
      WaitFor([&] { return real.files.ReadFile(record).value_or("").size() >= chord.size(); }));
  EXPECT_EQ(real.files.ReadFile(record), chord);
  PumpMessages();
  EXPECT_TRUE(FirefoxLookalike::keys.empty()) << "not one key to the lookalike";

  (void)PostMessageA(reinterpret_cast<HWND>(found), WM_CLOSE, 0, 0);
  EXPECT_EQ(WaitForSingleObject(firefox.hProcess, 5000), WAIT_OBJECT_0);
  (void)CloseHandle(firefox.hProcess);
  (void)CloseHandle(firefox.hThread);
}

TEST(OperaStep, TheRealSettingsFilePointsAtThePacFile) {
  RealPorts real;
  const std::string ini = GetOperaIniPath(real.system);
  const std::string profileFolder = ini.substr(0, ini.find_last_of('\\'));
  // The profile folder of the prefix's user: Opera\Opera\profile.
  std::string made = GetAppDataFolder(real.system);
  for (const char* part : {"Opera", "Opera\\Opera", "Opera\\Opera\\profile"}) {
    (void)CreateDirectoryA((made + part).c_str(), nullptr);
  }
  std::string error;
  ASSERT_TRUE(real.files.WriteFile(ini, "[Proxy]\r\nUse Automatic Proxy Configuration=1\r\n",
                                   WriteMode::Replace, error));
  ScratchFolder app("umbrane-app");
  const std::string appPath = app.Path();
  const std::string skin = appPath + "default.skn";
  SetOperaProxy(real.ports, {appPath, skin, appPath}, true, "127.0.0.1:7070");
  EXPECT_EQ(real.profile.ReadString(ini, "Proxy", "Automatic Proxy Configuration URL", ""),
            appPath + "umbrane.pac");
  EXPECT_EQ(real.profile.ReadString(ini, "Proxy", "Use Automatic Proxy Configuration", ""), "1");
  EXPECT_EQ(real.files.ReadFile(appPath + "umbrane.pac"), OperaPac(true, "127.0.0.1:7070"));
  SetOperaProxy(real.ports, {appPath, skin, appPath}, false, "");
  EXPECT_EQ(real.files.ReadFile(appPath + "umbrane.pac"), "");
  (void)DeleteFileA(ini.c_str());
  (void)RemoveDirectoryA(profileFolder.c_str());
}

}  // namespace
}  // namespace umbrane::win32
