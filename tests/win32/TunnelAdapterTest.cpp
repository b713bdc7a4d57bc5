// The tunnel's adapters against the real API under Wine: the stand-in agent
// started through the real pipe code, and the WinINet settings of the LAN.
#include <gtest/gtest.h>
#include <windows.h>

#include "Folders.h"
#include "WaitFor.h"
#include "proxy/BypassList.h"
#include "proxy/SystemProxy.h"
#include "tunnel/AgentOutput.h"
#include "win32/Win32AgentLauncher.h"
#include "win32/Win32InternetSettings.h"

namespace umbrane::win32 {
namespace {

using testing::HostPath;
using testing::ScratchFolder;
using testing::WaitFor;

// The stand-in agent in a folder of its own with `script`; its command line.
std::string AgentWithScript(const ScratchFolder& folder, const std::string& script) {
  EXPECT_TRUE(CopyFileA(HostPath(UMBRANE_STAND_IN_AGENT).c_str(),
                        (folder.Path() + "warden.exe").c_str(), FALSE));
  EXPECT_TRUE(folder.Write("warden.script", script));
  return "\"" + folder.Path() +
         "warden.exe\" -name publicuser -key k -do -H 7071 -umbrane -port 80 -say 127.0.0.1";
}

// Everything the agent prints until its pipe breaks, split into lines the
// way the poll does.
LineList ReadUntilBroken(IAgentProcess& agent) {
  AgentOutput output;
  LineList lines;
  WaitFor([&] {
    for (;;) {
      const auto waiting = agent.Peek();
      if (!waiting) {
        output.Flush(lines);
        return true;
      }
      if (*waiting == 0) {
        return false;
      }
      output.Feed(agent.Read(*waiting), lines);
    }
  });
  return lines;
}

TEST(Win32AgentLauncher, OutputLinesAndExitCodeOfTheStandInAgent) {
  ScratchFolder folder("umbrane-agent");
  Win32AgentLauncher launcher;
  auto agent = launcher.Start(
      "", AgentWithScript(folder,
                          "print 160036 hello\r\nwrite 1601\r\nsleep 200\r\nwrite 38 ready\\r\r\n"
                          "sleep 200\r\nwrite \\n160032\r\nexit 7\r\n"));
  ASSERT_TRUE(agent);
  const LineList lines = ReadUntilBroken(*agent);
  EXPECT_EQ(lines.Lines(), (std::vector<std::string>{"160036 hello", "160138 ready", "160032"}));
  EXPECT_TRUE(WaitFor([&] { return agent->ExitCode() == 7u; }));
}

TEST(Win32AgentLauncher, TerminateEndsARunningAgent) {
  ScratchFolder folder("umbrane-agent");
  Win32AgentLauncher launcher;
  auto agent = launcher.Start("", AgentWithScript(folder, "print 160036\r\nwait\r\n"));
  ASSERT_TRUE(agent);
  EXPECT_TRUE(WaitFor([&] { return agent->Peek().value_or(0) > 0; }));
  EXPECT_EQ(agent->ExitCode(), kStillActive);
  EXPECT_TRUE(agent->Terminate());
  EXPECT_TRUE(WaitFor([&] { return agent->ExitCode() == 0u; }));
}

TEST(Win32AgentLauncher, MalformedCommandLineIsReportedByTheAgent) {
  ScratchFolder folder("umbrane-agent");
  Win32AgentLauncher launcher;
  auto agent = launcher.Start("", "\"" + folder.Path() + "warden.exe\" -name x");
  EXPECT_FALSE(agent) << "no such program yet";
  AgentWithScript(folder, "wait\r\n");
  agent = launcher.Start("", "\"" + folder.Path() + "warden.exe\" -name x");
  ASSERT_TRUE(agent);
  EXPECT_EQ(ReadUntilBroken(*agent).Lines(), std::vector<std::string>{"171001 bad command line"});
  EXPECT_TRUE(WaitFor([&] { return agent->ExitCode() == 2u; }));
}

// The command line names the agent bare, as the program builds it; the
// file that runs is the one given by its full path, not whatever the
// search order finds first.
TEST(Win32AgentLauncher, TheProgramFileGivenRunsWhateverTheCommandLineNames) {
  ScratchFolder folder("umbrane-agent");
  AgentWithScript(folder, "print 160036 the given file\r\n");
  Win32AgentLauncher launcher;
  const std::string bare = "warden -name x -key k -do -H 7071 -umbrane -port 80 -say 127.0.0.1";
  auto agent = launcher.Start(folder.Path() + "warden.exe", bare);
  ASSERT_TRUE(agent);
  EXPECT_EQ(ReadUntilBroken(*agent).Lines(), std::vector<std::string>{"160036 the given file"});
}

// The port is held across agents: each stand-in takes the socket over (no
// "171001"), it stays held while none runs, and
// another holder is told who has it (this test's own program, by name where
// the system says), until it is let go.
TEST(Win32AgentLauncher, TheHeldPortPassesFromAgentToAgentAndItsHolderIsNamed) {
  ScratchFolder folder("umbrane-agent");
  const std::string command = AgentWithScript(folder, "listen\r\nprint 160138\r\nwait\r\n");
  Win32AgentLauncher launcher;
  Win32AgentLauncher other;
  ASSERT_EQ(launcher.HoldPort(7071), "");
  EXPECT_EQ(launcher.HoldPort(7071), "") << "held already";
  // Wine lists a listening socket without its process; Windows names it.
  char exe[MAX_PATH] = {};
  const std::string self(exe, GetModuleFileNameA(nullptr, exe, MAX_PATH));
  const std::string named = "it is used by " + self.substr(self.find_last_of('\\') + 1) +
                            " (process " + std::to_string(GetCurrentProcessId()) + ")";
  const std::string told = other.HoldPort(7071);
  EXPECT_TRUE(told == named || told == "it is used by another program") << told;
  for (int run = 0; run < 2; ++run) {
    auto agent = launcher.Start("", command);
    ASSERT_TRUE(agent);
    std::string said;
    EXPECT_TRUE(WaitFor([&] {
      said += agent->Read(agent->Peek().value_or(0));
      return said.find("160138") != std::string::npos;
    }));
    EXPECT_EQ(said.find("171001"), std::string::npos) << said;
    EXPECT_TRUE(agent->Terminate());
    EXPECT_TRUE(WaitFor([&] { return agent->ExitCode() == 0u; }));
    EXPECT_NE(other.HoldPort(7071), "") << "still held between agents";
  }
  launcher.ReleasePort();
  EXPECT_TRUE(WaitFor([&] { return other.HoldPort(7071).empty(); })) << "let go";
}

class Win32InternetSettingsTest : public ::testing::Test {
 protected:
  Win32InternetSettings internet;
  void TearDown() override { (void)internet.SetConnection("", {kProxyTypeDirect, "", "", ""}); }
};

TEST_F(Win32InternetSettingsTest, ApplyAndRestoreReadBackThroughWinInet) {
  ASSERT_TRUE(SetConnectionProxy(internet, true, "", kLocalProxy, kLocalBypass));
  auto lan = internet.QueryConnection("");
  ASSERT_TRUE(lan);
  EXPECT_EQ(lan->flags & (kProxyTypeProxy | kProxyTypeDirect), kProxyTypeProxy);
  EXPECT_EQ(lan->proxyServer, "127.0.0.1:7070");

  ASSERT_TRUE(SetConnectionProxy(internet, false, "", "", ""));
  lan = internet.QueryConnection("");
  ASSERT_TRUE(lan);
  EXPECT_EQ(lan->flags & (kProxyTypeProxy | kProxyTypeDirect), kProxyTypeDirect);
}

TEST_F(Win32InternetSettingsTest, RestoreLeavesTheUsersOwnProxyAlone) {
  ASSERT_TRUE(
      internet.SetConnection("", {kProxyTypeProxy, "proxy.corp:8080", std::nullopt, std::nullopt}));
  EXPECT_TRUE(SetConnectionProxy(internet, false, "", "", ""));
  const auto lan = internet.QueryConnection("");
  ASSERT_TRUE(lan);
  EXPECT_EQ(lan->proxyServer, "proxy.corp:8080");
  EXPECT_NE(lan->flags & kProxyTypeProxy, 0u);
}

TEST_F(Win32InternetSettingsTest, NoDialUpConnectionsUnderWine) {
  std::vector<std::string> names;
  EXPECT_EQ(GetDialUpConnections(internet, names), 0);
  EXPECT_TRUE(names.empty());
}

}  // namespace
}  // namespace umbrane::win32
