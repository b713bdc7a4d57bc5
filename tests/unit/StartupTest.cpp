// Start-up and shutdown of the controller, checked as call sequences on the
// fakes.
#include <gtest/gtest.h>

#include "BuildConfig.h"
#include "FakeFileSystem.h"
#include "FakePorts.h"
#include "FakeProfile.h"
#include "FakeTray.h"
#include "FakeDownload.h"
#include "FakeTunnel.h"
#include "app/Commands.h"
#include "app/TfrmMain.h"

namespace umbrane {
namespace {

using namespace fakes;

constexpr const char* kAppData = "C:\\Users\\ann\\AppData\\Roaming";
constexpr const char* kDataPath = "C:\\Users\\ann\\AppData\\Roaming\\Umbrane\\";
constexpr const char* kLog = "C:\\Users\\ann\\AppData\\Roaming\\Umbrane\\log.txt";
constexpr const char* kAppPath = "C:\\Program Files\\Umbrane\\";

class Startup : public ::testing::Test {
 protected:
  CallLog calls;
  FakeFileSystem files{&calls};
  FakeProfile profile{files};
  FakeClock clock;
  FakeSystem system;
  FakeShell shell;
  FakeDialogs dialogs{&calls};
  FakeMainForm form{&calls};
  FakeBrowserSwitch browsers{&calls};
  FakeNotificationArea tray;
  FakeTrayMenu menu;
  FakeTimers timers;
  FakeAgentLauncher agents;
  FakeFetcher fetcher{files};
  FakePump pump;
  AppPorts ports{files, profile, clock,  system, shell,   dialogs, form,
                 tray,  menu,    timers, agents, fetcher, pump};
  Globals g;
  TfrmMain main{ports, browsers, g};

  void SetUp() override {
    system.version = {kPlatformWindowsNT, 10, 0, 19045};
    system.specialFolders[26] = kAppData;
    system.tempPath = "C:\\Users\\ann\\AppData\\Local\\Temp";
    files.AddFolder(kAppData);
    files.AddFile(std::string(kAppPath) + "default.skn", "");
  }
  std::string LogText() { return files.Content(kLog).value_or("<no log>"); }
};

TEST_F(Startup, SettlesFoldersStateAndInterface) {
  main.InitRun();
  EXPECT_EQ(g.AppPath, kAppPath);
  EXPECT_EQ(g.DataPath, kDataPath);
  EXPECT_EQ(g.TempPath, "C:\\Users\\ann\\AppData\\Local\\Temp\\");
  EXPECT_TRUE(files.FolderExists(kDataPath));
  ASSERT_TRUE(g.Settings);
  EXPECT_EQ(g.Settings->FileName(), std::string(kDataPath) + "umbrane.ini");
  EXPECT_EQ(g.SkinFile, std::string(kAppPath) + "default.skn");
  EXPECT_EQ(main.HelpFile(), std::string(kAppPath) + "help.chm");
  EXPECT_EQ(main.ApplicationTitle(), "Umbrane");
  EXPECT_EQ(g.AccessToken, kDefaultAccessToken);
  ASSERT_TRUE(g.AgentLines && g.LogLines);
  EXPECT_TRUE(g.AgentLines->Empty());
  EXPECT_EQ(LogText(),
            "[ 09:05:03:042 2008/03/10 ] SilentUpdate\r\n"
            "[ 09:05:03:042 2008/03/10 ] SilentUpdate Failed!\r\n")
      << "the update check is the first to log";
  EXPECT_TRUE(g.LogLines->Empty()) << "what reached the file is not kept";
  EXPECT_EQ(g.LineIndex, 0);
  EXPECT_EQ(main.Memory(), SessionState{});
  EXPECT_EQ(g.VersionText, "4.01 Beta");

  EXPECT_EQ(form.skin, SkinLook{}) << "an empty skin file keeps the built-in look";
  EXPECT_EQ(form.caption, "Umbrane 4.01 Beta");
  EXPECT_EQ(form.left, (365 - 17 * 13) / 2);
  EXPECT_EQ(form.closeRequests, 0);
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(Startup, CentringTruncatesTowardZero) {
  form.outerWidth = 100;
  form.pixelsPerChar = 7;  // 17 characters: 119 pixels, wider than the form
  main.InitRun();
  EXPECT_EQ(form.left, -9) << "(100 - 119) / 2 truncates toward zero";
}

TEST_F(Startup, ExistingDataFolderIsUsedUnchanged) {
  files.AddFile(std::string(kDataPath) + "umbrane.ini",
                "[Config]\r\nSkin=" + std::string(kAppPath) + "default.skn\r\n");
  main.InitRun();
  EXPECT_EQ(std::count(calls.calls.begin(), calls.calls.end(),
                       "CreateFolder C:\\Users\\ann\\AppData\\Roaming\\Umbrane"),
            0);
  EXPECT_EQ(files.Content(std::string(kDataPath) + "umbrane.ini")->substr(0, 8), "[Config]");
}

TEST_F(Startup, DataFolderThatCannotBeCreatedStopsBeforeTheSettings) {
  system.specialFolders[26] = "C:\\Gone\\Roaming";
  main.InitRun();
  EXPECT_EQ(calls.calls, (std::vector<std::string>{
                             "CreateFolder C:\\Gone\\Roaming\\Umbrane",
                             "MessageBox Can not create Application Data folder",
                             "CloseForm",
                         }));
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].kind, MessageKind::Error);
  EXPECT_EQ(dialogs.boxes[0].buttons, MessageButtons::Ok);
  EXPECT_FALSE(g.Settings);
  EXPECT_FALSE(g.LogLines);
  EXPECT_TRUE(form.caption.empty()) << "no interface set-up";

  // The close then restores the browsers and logs nothing: there is no log.
  calls.calls.clear();
  main.FormClose();
  EXPECT_EQ(calls.calls, (std::vector<std::string>{"SetBrowsersProxy off [][][]"}));
}

TEST_F(Startup, AProgramFolderOthersMayChangeStopsBeforeAnythingElse) {
  files.openFolders[kAppPath] = "Users";
  main.InitRun();
  EXPECT_EQ(calls.calls, (std::vector<std::string>{
                             "MessageBox Umbrane can not run from " + std::string(kAppPath) +
                                 ": Users may change the files there, and so what Umbrane runs. "
                                 "Install Umbrane for this user, or put it in a folder only you "
                                 "and the administrators can change.",
                             "CloseForm",
                         }));
  EXPECT_FALSE(g.Settings);
  EXPECT_TRUE(fetcher.urls.empty()) << "no update check";
}

TEST_F(Startup, UnknownSystemPutsTheDataFolderInTheCurrentFolder) {
  system.version = {3, 7, 0, 0};
  main.InitRun();
  EXPECT_EQ(g.DataPath, "Umbrane\\");
  EXPECT_EQ(g.Settings->FileName(), "Umbrane\\umbrane.ini");
}

TEST_F(Startup, MissingDefaultSkinStopsAfterTheSettings) {
  files = FakeFileSystem{&calls};
  files.AddFolder(kAppData);
  main.InitRun();
  EXPECT_EQ(calls.calls, (std::vector<std::string>{
                             "CreateFolder C:\\Users\\ann\\AppData\\Roaming\\Umbrane",
                             "MessageBox Can not find Skin File",
                             "CloseForm",
                         }));
  EXPECT_TRUE(g.Settings) << "the settings were read before the skin check";
  EXPECT_TRUE(form.caption.empty()) << "no theme, no label";
  EXPECT_FALSE(form.skin);

  main.FormClose();
  EXPECT_EQ(LogText(), "[ 09:05:03:042 2008/03/10 ] Closing...\r\n")
      << "the full shutdown runs after this failure";
}

TEST_F(Startup, SkinOverrideNamingAMissingFileStopsLikeAMissingDefault) {
  files.AddFile(std::string(kDataPath) + "umbrane.ini",
                "[config]\r\nskin = D:\\Skins\\gone.skn\r\n");
  main.InitRun();
  EXPECT_EQ(g.SkinFile, "D:\\Skins\\gone.skn");
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, "Can not find Skin File");
  EXPECT_EQ(form.closeRequests, 1);
}

TEST_F(Startup, SkinOverrideNamingAnExistingFileIsUsed) {
  files.AddFile("D:\\Skins\\night.skn", "[Window]\r\nColor=#000000\r\n");
  files.AddFile(std::string(kDataPath) + "umbrane.ini",
                "[Config]\r\nSkin=D:\\Skins\\night.skn\r\n");
  main.InitRun();
  ASSERT_TRUE(form.skin);
  EXPECT_EQ(form.skin->windowColor, (Rgb{0, 0, 0})) << "the look comes from the named skin";
  EXPECT_TRUE(dialogs.boxes.empty());
}

TEST_F(Startup, ShutdownRestoresBrowsersThenLogsThenEndsEverything) {
  main.InitRun();
  main.Report("User stopped Umbrane");
  calls.calls.clear();
  main.FormClose();
  EXPECT_EQ(calls.calls, (std::vector<std::string>{
                             "SetBrowsersProxy off [][][]",
                             std::string("AppendFile ") + kLog,
                         }));
  EXPECT_EQ(LogText(),
            "[ 09:05:03:042 2008/03/10 ] SilentUpdate\r\n"
            "[ 09:05:03:042 2008/03/10 ] SilentUpdate Failed!\r\n"
            "[ 09:05:03:042 2008/03/10 ] User stopped Umbrane\r\n"
            "[ 09:05:03:042 2008/03/10 ] Closing...\r\n");
  EXPECT_FALSE(g.AgentLines);
  EXPECT_FALSE(g.LogLines);
  EXPECT_FALSE(g.Settings);

  const int writes = files.writeCount;
  main.Report("too late");
  EXPECT_EQ(files.writeCount, writes) << "nothing is logged after the close";
}

TEST_F(Startup, ShutdownFinishesWhenTheLogCannotBeWritten) {
  main.InitRun();
  files.failingWrites.insert(kLog);
  main.Dispatch([this] { main.FormClose(); });  // as the window runs it
  EXPECT_FALSE(g.LogLines) << "the state is freed all the same";
  EXPECT_FALSE(g.Settings);
  EXPECT_EQ(dialogs.errorBoxes.size(), 1u) << "and the failure is told afterwards";
}

TEST_F(Startup, ReportKeepsCallingOrderAndTheFileEqualsTheList) {
  main.InitRun();
  clock.dateSeparator = '.';
  main.Report("one");
  main.Report("");
  clock.now = {2008, 3, 11, 0, 0, 0, 0};
  main.Report("two");
  EXPECT_EQ(LogText(),
            "[ 09:05:03:042 2008/03/10 ] SilentUpdate\r\n"
            "[ 09:05:03:042 2008/03/10 ] SilentUpdate Failed!\r\n"
            "[ 09:05:03:042 2008.03.10 ] one\r\n"
            "[ 09:05:03:042 2008.03.10 ] \r\n"
            "[ 00:00:00:000 2008.03.11 ] two\r\n");
  EXPECT_TRUE(g.LogLines->Empty());
}

TEST_F(Startup, LogWriteFailureInAHandlerReachesTheErrorBoxAndTheProgramGoesOn) {
  main.InitRun();
  files.failingWrites.insert(kLog);
  main.Dispatch([&] { main.Report("User stopped Umbrane"); });
  ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
  EXPECT_EQ(dialogs.errorBoxes[0].first, "Umbrane");
  EXPECT_EQ(dialogs.errorBoxes[0].second,
            std::string("Cannot write file \"") + kLog +
                "\". The process cannot access the file because it is being used by another "
                "process.");
  EXPECT_EQ(g.LogLines->Count(), 1u) << "kept until it reaches the file";
  files.failingWrites.clear();
  main.Report("next");
  EXPECT_NE(LogText().find("] User stopped Umbrane\r\n[ 09:05:03:042 2008/03/10 ] next\r\n"),
            std::string::npos);
  EXPECT_TRUE(g.LogLines->Empty());
}

TEST_F(Startup, CommandsOpenTheirTargetsAndExitCloses) {
  main.InitRun();
  main.OnCommand(kCmdReport1);
  main.OnCommand(kCmdSeeMyIP1);
  main.OnCommand(kCmdHelp1);
  main.OnCommand(12345);
  ASSERT_EQ(shell.opened.size(), 3u);
  EXPECT_EQ(shell.opened[0].target, kLog);
  EXPECT_EQ(shell.opened[0].parent, 0u);
  EXPECT_EQ(shell.opened[1].target, build::kIpCheckUrl);
  EXPECT_EQ(shell.opened[2].target, std::string(kAppPath) + "help.chm");
  EXPECT_EQ(shell.opened[2].parent, form.handle) << "help opens with the main window as parent";
  EXPECT_EQ(form.closeRequests, 0);
  main.OnCommand(kCmdExit1);
  EXPECT_EQ(form.closeRequests, 1);
}

}  // namespace
}  // namespace umbrane
