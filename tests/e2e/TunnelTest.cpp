// umbrane.exe with the stand-in agent under Wine: connect, the LAN settings
// on the local proxy, and every way of ending that must leave no agent and
// (except a crash, mended at the next start) direct settings.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <algorithm>

#include "Folders.h"
#include "ProgramDriver.h"
#include "WaitFor.h"
#include "app/Commands.h"
#include "base/Text.h"
#include "proxy/SystemProxy.h"
#include "win32/Win32InternetSettings.h"
#include "win32/Win32ProcessList.h"

namespace umbrane::e2e {
namespace {

using testing::HostPath;
using testing::ScratchFolder;
using testing::WaitFor;

constexpr const char* kQuickAgent =
    "print 160036 preparing\r\nprint 160239 accepted\r\nlisten\r\nprint 160138 ready\r\nwait\r\n";

bool AgentAlive() {
  const auto names = win32::Win32ProcessList().Names();
  return std::any_of(names.begin(), names.end(),
                     [](const std::string& n) { return LowerCase(n) == "warden.exe"; });
}

bool LanOnLocalProxy() {
  const auto lan = win32::Win32InternetSettings().QueryConnection("");
  return lan && IsOurProxy(*lan);
}

bool Logged(const std::string& message) {
  const auto entries = LogEntries();
  return std::any_of(entries.begin(), entries.end(),
                     [&](const std::string& e) { return Message(e) == message; });
}

class TunnelProgram : public ::testing::Test {
 protected:
  ScratchFolder folder{"umbrane-tunnel"};
  Running umbrane;
  HWND main = nullptr;

  void SetUp() override {
    (void)DeleteFileA(LogPath().c_str());
    ASSERT_TRUE(InstallProgram(folder.Path(), kQuickAgent));
  }
  void TearDown() override {
    if (umbrane.process.Valid() && WaitForSingleObject(umbrane.process.Get(), 0) == WAIT_TIMEOUT) {
      (void)TerminateProcess(umbrane.process.Get(), 1);
      (void)WaitForSingleObject(umbrane.process.Get(), 5000);
    }
    (void)win32::Win32InternetSettings().SetConnection("", {kProxyTypeDirect, "", "", ""});
  }
  void StartAndConnect() {
    umbrane = Start(folder.Path() + "umbrane.exe");
    main = WaitForMainWindow(umbrane);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(WaitForUpdateDone());
    ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdUmbrane1, 0));
    ASSERT_TRUE(WaitFor([] { return Logged("Umbrane ON"); }, 15000));
  }
};

TEST_F(TunnelProgram, ConnectSwitchesTheLanToTheAgentAndStopPutsItBack) {
  StartAndConnect();
  EXPECT_EQ(
      MessagesAfterUpdate(),
      (std::vector<std::string>{"Searching Internet", "Connected to Internet", "Umbrane ON"}));
  EXPECT_TRUE(LanOnLocalProxy());
  EXPECT_TRUE(AgentAlive());

  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdStopUmbrane1, 0));
  EXPECT_TRUE(WaitFor([] { return Logged("User stopped Umbrane"); }));
  EXPECT_FALSE(LanOnLocalProxy());
  EXPECT_TRUE(WaitFor([] { return !AgentAlive(); }));
}

TEST_F(TunnelProgram, ExitRestoresTheLanAndEndsTheAgent) {
  StartAndConnect();
  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdExit1, 0));
  EXPECT_EQ(WaitForExit(umbrane), 0u);
  EXPECT_EQ(Message(LogEntries().back()), "Closing...");
  EXPECT_FALSE(LanOnLocalProxy());
  EXPECT_TRUE(WaitFor([] { return !AgentAlive(); }));
}

TEST_F(TunnelProgram, AKilledUmbraneTakesItsAgentAlongAndTheNextStartRestores) {
  StartAndConnect();
  ASSERT_TRUE(TerminateProcess(umbrane.process.Get(), 9));
  (void)WaitForSingleObject(umbrane.process.Get(), 5000);
  EXPECT_TRUE(WaitFor([] { return !AgentAlive(); })) << "the agent must not hold port 7070";
  EXPECT_TRUE(LanOnLocalProxy()) << "a crash cannot restore anything itself";

  umbrane = Start(folder.Path() + "umbrane.exe");
  ASSERT_NE(WaitForMainWindow(umbrane), nullptr);
  EXPECT_TRUE(WaitFor([] { return !LanOnLocalProxy(); }));
  EXPECT_TRUE(WaitFor(
      [] { return Logged("Browsers restored: the previous run ended while they used Umbrane"); }));
}

// Browsers installed for the prefix's user, as far as the program sees them:
// a Firefox extension registration, an Opera settings file and a Netscape
// profile with a user.js. All removed again afterwards.
class InstalledBrowsers {
 public:
  explicit InstalledBrowsers(const std::string& extensionFolder) {
    char buffer[MAX_PATH] = {};
    (void)SHGetSpecialFolderPathA(nullptr, buffer, CSIDL_APPDATA, FALSE);
    appData_ = std::string(buffer) + "\\";
    HKEY key = nullptr;
    (void)RegCreateKeyExA(HKEY_CURRENT_USER, "Software\\Mozilla\\Firefox\\Extensions", 0, nullptr,
                          0, KEY_WRITE, nullptr, &key, nullptr);
    (void)RegSetValueExA(key, "umbrane@umbrane.app", 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(extensionFolder.c_str()),
                         static_cast<DWORD>(extensionFolder.size() + 1));
    RegCloseKey(key);
    for (const char* folder :
         {"Opera", "Opera\\Opera", "Opera\\Opera\\profile", "Mozilla", "Mozilla\\Profiles",
          "Mozilla\\Profiles\\default", "Mozilla\\Profiles\\default\\k3y.slt"}) {
      (void)CreateDirectoryA((appData_ + folder).c_str(), nullptr);
    }
    Write(OperaIni(), "[Proxy]\r\nUse Automatic Proxy Configuration=1\r\n");
    Write(UserJs(), "user_pref(\"browser.startup.page\", 0);\r\n");
  }
  ~InstalledBrowsers() {
    (void)RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Mozilla\\Firefox\\Extensions");
    (void)DeleteFileA(OperaIni().c_str());
    (void)DeleteFileA(UserJs().c_str());
  }
  std::string OperaIni() const { return appData_ + "Opera\\Opera\\profile\\opera6.ini"; }
  std::string UserJs() const { return appData_ + "Mozilla\\Profiles\\default\\k3y.slt\\user.js"; }

 private:
  static void Write(const std::string& path, const std::string& text) {
    std::string error;
    EXPECT_TRUE(win32::Win32FileSystem().WriteFile(path, text, WriteMode::Replace, error));
  }
  std::string appData_;
};

std::string Read(const std::string& path) {
  return win32::Win32FileSystem().ReadFile(path).value_or("<missing>");
}

TEST_F(TunnelProgram, FirefoxOperaAndNetscapeFollowConnectAndStop) {
  ScratchFolder extension("umbrane-extension");
  InstalledBrowsers installed(extension.Path());
  StartAndConnect();
  EXPECT_EQ(Read(extension.Path() + "umbrane.tmp"), "-1\r\n127.0.0.1\r\n7070\r\nusa\r\n\r\n");
  char pacUrl[MAX_PATH] = {};
  (void)GetPrivateProfileStringA("Proxy", "Automatic Proxy Configuration URL", "", pacUrl,
                                 sizeof pacUrl, installed.OperaIni().c_str());
  EXPECT_EQ(std::string(pacUrl), folder.Path() + "umbrane.pac");
  EXPECT_EQ(Read(folder.Path() + "umbrane.pac"),
            "function FindProxyForURL(url, host)\r\n{return \"PROXY 127.0.0.1:7070\";\r\n}\r\n");
  EXPECT_EQ(Read(installed.UserJs()),
            "user_pref(\"browser.startup.page\", 0);\r\n"
            "user_pref(\"network.proxy.type\", 1);\r\n"
            "user_pref(\"network.proxy.http\", \"127.0.0.1\");\r\n"
            "user_pref(\"network.proxy.http_port\",7070);\r\n"
            "user_pref(\"network.proxy.no_proxies_on\", \"\");\r\n");

  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdStopUmbrane1, 0));
  ASSERT_TRUE(WaitFor([] { return Logged("User stopped Umbrane"); }));
  EXPECT_EQ(Read(extension.Path() + "umbrane.tmp"), "0\r\n\r\n\r\n\r\n\r\n");
  EXPECT_EQ(Read(folder.Path() + "umbrane.pac"), "");
  EXPECT_NE(Read(installed.UserJs()).find("user_pref(\"network.proxy.type\", 0);"),
            std::string::npos);
}

}  // namespace
}  // namespace umbrane::e2e
