// umbrane.exe against the local update service over HTTPS (its certificate
// from the tests' authority, trusted in the session's prefix, its key
// pinned; its replies signed with the test build's key): a token in the
// reply starts the tunnel with no user action; a failed service, one that
// cannot prove itself, one that never finishes, or a reply that fails its
// rules, leaves it off.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include "Folders.h"
#include "ProgramDriver.h"
#include "UpdateService.h"
#include "proxy/SystemProxy.h"
#include "tunnel/Cipher.h"
#include "win32/Win32InternetSettings.h"

namespace umbrane::e2e {
namespace {

using testing::HostPath;
using testing::ScratchFolder;
using testing::SetUpdateService;
using testing::WaitFor;

class UpdateProgram : public ::testing::Test {
 protected:
  testing::UpdateServiceReset reset;
  ScratchFolder folder{"umbrane-update"};
  Running umbrane;

  void SetUp() override {
    (void)DeleteFileA(LogPath().c_str());
    ASSERT_TRUE(InstallProgram(
        folder.Path(), "record command.txt\r\nprint 160239\r\nlisten\r\nprint 160138\r\nwait\r\n"));
  }
  void TearDown() override { Close(); }
  void Close() {
    // Closed the regular way, so the browsers are put back and no marker of
    // a dead run is left for the next test.
    const auto windows = WindowsOf(umbrane.id, "TfrmMain");
    if (!windows.empty()) {
      (void)PostMessageA(windows.front(), WM_CLOSE, 0, 0);
      (void)WaitForExit(umbrane);
    }
    if (umbrane.process.Valid() && WaitForSingleObject(umbrane.process.Get(), 0) == WAIT_TIMEOUT) {
      (void)TerminateProcess(umbrane.process.Get(), 1);
      (void)WaitForSingleObject(umbrane.process.Get(), 5000);
    }
    (void)win32::Win32InternetSettings().SetConnection("", {kProxyTypeDirect, "", "", ""});
  }
  static bool Logged(const std::string& message) {
    for (const std::string& entry : LogEntries()) {
      if (Message(entry) == message) {
        return true;
      }
    }
    return false;
  }
};

TEST_F(UpdateProgram, ATokenInTheReplyConnectsWithoutTheUser) {
  SetUpdateService("reply", "[Update]\r\nKey=" + Cipher("e2e-token", kTokenKey) + "\r\n");
  umbrane = Start(folder.Path() + "umbrane.exe");
  ASSERT_TRUE(WaitFor([] { return Logged("Umbrane ON"); }, 20000));
  const auto entries = LogEntries();
  EXPECT_EQ(Message(entries[0]), "SilentUpdate");
  EXPECT_EQ(Message(entries[1]), "SilentUpdate Successfully!");
  const auto command = win32::Win32FileSystem().ReadFile(folder.Path() + "command.txt");
  ASSERT_TRUE(command);
  EXPECT_NE(command->find(" -key e2e-token -do "), std::string::npos) << *command;
  const auto requests = testing::UpdateRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].rfind("/soa/update.php?id=", 0), 0u) << requests[0];
  EXPECT_NE(requests[0].find("&sn=&version=4.01&language="), std::string::npos) << requests[0];
  const auto lan = win32::Win32InternetSettings().QueryConnection("");
  ASSERT_TRUE(lan);
  EXPECT_TRUE(IsOurProxy(*lan));
}

TEST_F(UpdateProgram, AnUnwritableLogStillBringsTheTunnelUpWithOneErrorBox) {
  const std::string data = LogPath().substr(0, LogPath().find_last_of('\\'));
  (void)CreateDirectoryA(data.c_str(), nullptr);       // on a fresh prefix it is not there yet
  (void)CreateDirectoryA(LogPath().c_str(), nullptr);  // a folder stands in the log's place
  SetUpdateService("reply", "[Update]\r\nKey=" + Cipher("e2e-token", kTokenKey) + "\r\n");
  umbrane = Start(folder.Path() + "umbrane.exe");
  EXPECT_TRUE(WaitFor(
      [] {
        const auto lan = win32::Win32InternetSettings().QueryConnection("");
        return lan && IsOurProxy(*lan);
      },
      20000));
  std::vector<HWND> boxes;
  EXPECT_TRUE(WaitFor([&] { return !(boxes = WindowsOf(umbrane.id, "#32770")).empty(); }));
  ASSERT_EQ(boxes.size(), 1u) << "told once, not at every entry";
  const auto main = WindowsOf(umbrane.id, "TfrmMain");
  ASSERT_EQ(main.size(), 1u);
  EXPECT_EQ(GetWindow(boxes.front(), GW_OWNER), main.front()) << "owned by the main window";
  EXPECT_EQ(GetForegroundWindow(), boxes.front()) << "and in front";
  CloseBoxes(umbrane.id);
  (void)RemoveDirectoryA(LogPath().c_str());
}

TEST_F(UpdateProgram, AFailedServiceLeavesTheTunnelOff) {
  SetUpdateService("down");
  umbrane = Start(folder.Path() + "umbrane.exe");
  ASSERT_TRUE(WaitFor([] { return Logged("SilentUpdate Failed!"); }));
  EXPECT_EQ(Message(LogEntries()[0]), "SilentUpdate");
  EXPECT_FALSE(win32::Win32FileSystem().FileExists(folder.Path() + "command.txt"))
      << "no agent was started";
}

// A self-signed certificate, a reply over 64 KiB, and an answer that never
// ends (given up after 30 s): each is a failed check, and no agent starts.
TEST_F(UpdateProgram, AnUnprovenOrEndlessServiceIsAFailedCheck) {
  for (const char* mode : {"untrusted", "huge", "endless"}) {
    SetUpdateService(mode, "[Update]\r\nKey=" + Cipher("e2e-token", kTokenKey) + "\r\n");
    (void)DeleteFileA(LogPath().c_str());
    umbrane = Start(folder.Path() + "umbrane.exe");
    EXPECT_TRUE(WaitFor([] { return Logged("SilentUpdate Failed!"); }, 40000)) << mode;
    EXPECT_FALSE(win32::Win32FileSystem().FileExists(folder.Path() + "command.txt"))
        << mode << ": no agent was started";
    Close();
  }
}

// The update service's word cannot be forged or replayed: a stand-in whose
// certificate a trusted root vouches for, but with another key, receives no
// request; a reply unsigned, signed by another key, for another machine,
// expired or replayed is refused with its reason, and nothing starts.
TEST_F(UpdateProgram, AForgedOrReplayedReplyStartsNothing) {
  const std::string key = "Key=" + Cipher("e2e-token", kTokenKey) + "\r\n";
  const auto runOnce = [&](const std::string& mode, const std::string& reply,
                           const std::string& signing) {
    SetUpdateService(mode, reply, signing);
    (void)DeleteFileA(LogPath().c_str());
    (void)DeleteFileA((folder.Path() + "command.txt").c_str());
    umbrane = Start(folder.Path() + "umbrane.exe");
  };
  // A first reply is accepted; its number is what a replay carries.
  // (No new version: its notice would hold the token back until dismissed.)
  runOnce("reply", "[Update]\r\n" + key, "");
  ASSERT_TRUE(WaitFor([] { return Logged("Umbrane ON"); }, 20000));
  Close();
  const std::string settings = LogPath().substr(0, LogPath().find_last_of('\\')) + "\\umbrane.ini";
  char serial[32] = {};
  (void)GetPrivateProfileStringA("Update", "Serial", "", serial, sizeof serial, settings.c_str());
  ASSERT_NE(serial[0], '\0');

  struct Case {
    const char* mode;
    std::string signing;
    const char* logged;
  };
  const Case cases[] = {
      {"impostor", "",
       "SilentUpdate: the update service's key is not the pinned one: nothing was sent"},
      {"reply", "unsigned", "SilentUpdate refused the reply: the reply is unsigned"},
      {"reply", "other", "SilentUpdate refused the reply: the reply is signed by another key"},
      {"reply", "machine",
       "SilentUpdate refused the reply: the reply is for another machine (another id, sn or "
       "version)"},
      {"reply", "expired",
       "SilentUpdate refused the reply: the reply has expired (or this computer's clock is wrong)"},
      {"reply", std::string("serial ") + serial,
       "SilentUpdate refused the reply: the reply is older than one accepted before (a replay)"},
  };
  for (const Case& c : cases) {
    runOnce(c.mode, "[Update]\r\nNewVersion=1\r\n" + key, c.signing);
    EXPECT_TRUE(WaitFor([] { return Logged("SilentUpdate Failed!"); }, 20000)) << c.signing;
    EXPECT_TRUE(Logged(c.logged)) << c.mode << " " << c.signing;
    EXPECT_EQ(testing::UpdateRequests().size(), c.mode == std::string("impostor") ? 0u : 1u);
    EXPECT_TRUE(WindowsOf(umbrane.id, "#32770").empty()) << "no new-version notice";
    EXPECT_FALSE(win32::Win32FileSystem().FileExists(folder.Path() + "command.txt"))
        << c.signing << ": no agent was started";
    Close();
  }
  char kept[32] = {};
  (void)GetPrivateProfileStringA("Update", "Serial", "", kept, sizeof kept, settings.c_str());
  EXPECT_STREQ(kept, serial) << "no refused reply moved the number";
}

TEST_F(UpdateProgram, ACloseDuringAnEndlessAnswerEndsTheProgramAtOnce) {
  SetUpdateService("endless");
  umbrane = Start(folder.Path() + "umbrane.exe");
  HWND main = WaitForMainWindow(umbrane);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitFor([] { return !testing::UpdateRequests().empty(); }));
  Sleep(1000);  // the answer has begun
  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  EXPECT_EQ(WaitForSingleObject(umbrane.process.Get(), 6000), WAIT_OBJECT_0)
      << "still running 6 s after the close";
}

}  // namespace
}  // namespace umbrane::e2e
