// umbrane.exe with the stand-in agent under Wine: connect, the LAN settings
// on the local proxy, and every way of ending that must leave no agent and
// (except a crash, mended at the next start) direct settings.
#include <gtest/gtest.h>
#include <windows.h>

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
    const std::string bin = kUmbraneExe.substr(0, kUmbraneExe.find_last_of('\\') + 1);
    for (const char* file : {"umbrane.exe", "default.skn"}) {
      ASSERT_TRUE(CopyFileA((bin + file).c_str(), (folder.Path() + file).c_str(), FALSE));
    }
    ASSERT_TRUE(CopyFileA(HostPath(UMBRANE_STAND_IN_AGENT).c_str(),
                          (folder.Path() + "warden.exe").c_str(), FALSE));
    ASSERT_TRUE(folder.Write("warden.script", kQuickAgent));
  }
  void TearDown() override {
    if (umbrane.process.Valid() && WaitForSingleObject(umbrane.process.Get(), 0) == WAIT_TIMEOUT) {
      (void)TerminateProcess(umbrane.process.Get(), 1);
      (void)WaitForSingleObject(umbrane.process.Get(), 5000);
    }
    (void)win32::Win32InternetSettings().SetConnection("", {kProxyTypeDirect, "", std::nullopt});
  }
  void StartAndConnect() {
    umbrane = Start(folder.Path() + "umbrane.exe");
    main = WaitForMainWindow(umbrane);
    ASSERT_NE(main, nullptr);
    ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdUmbrane1, 0));
    ASSERT_TRUE(WaitFor([] { return Logged("Umbrane ON"); }, 15000));
  }
};

TEST_F(TunnelProgram, ConnectSwitchesTheLanToTheAgentAndStopPutsItBack) {
  StartAndConnect();
  const auto entries = LogEntries();
  ASSERT_GE(entries.size(), 3u);
  EXPECT_EQ(Message(entries[0]), "Searching Internet");
  EXPECT_EQ(Message(entries[1]), "Connected to Internet");
  EXPECT_EQ(Message(entries[2]), "Umbrane ON");
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

}  // namespace
}  // namespace umbrane::e2e
