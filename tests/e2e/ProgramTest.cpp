// The whole umbrane.exe under Wine: started, driven from outside the way
// Windows automation does it, and closed; checked through its window, its
// exit and log.txt.
#include <gtest/gtest.h>
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>

#include <cstdlib>
#include <vector>

#include "Screenshot.h"
#include "ProgramDriver.h"
#include "WaitFor.h"
#include "WineTray.h"
#include "app/Commands.h"
#include "base/LineList.h"
#include "win32/Handle.h"
#include "win32/Win32FileSystem.h"

namespace umbrane::e2e {
namespace {

using testing::HostPath;
using testing::WaitFor;
using testing::WineTrayIconCount;

class Program : public ::testing::Test {
 protected:
  void SetUp() override { (void)DeleteFileA(LogPath().c_str()); }
  void TearDown() override {
    for (Running* r : {&first, &second}) {
      if (r->process.Valid() && WaitForSingleObject(r->process.Get(), 0) == WAIT_TIMEOUT) {
        (void)TerminateProcess(r->process.Get(), 1);
        (void)WaitForSingleObject(r->process.Get(), 5000);
      }
    }
  }
  Running first;
  Running second;
};

TEST_F(Program, StartsHiddenWithItsIconAndWmCloseLeavesClosingAsTheLastEntry) {
  first = Start(kUmbraneExe);
  ASSERT_TRUE(first.process.Valid()) << kUmbraneExe;
  HWND main = WaitForMainWindow(first);
  ASSERT_NE(main, nullptr);
  EXPECT_TRUE(WaitFor([] { return WineTrayIconCount() == 1; })) << "the icon is added at start";
  EXPECT_FALSE(IsWindowVisible(main));
  char caption[64] = {};
  (void)GetWindowTextA(main, caption, sizeof caption);
  EXPECT_STREQ(caption, "Umbrane");
  RECT client = {};
  (void)GetClientRect(main, &client);
  EXPECT_EQ(client.right, 357);
  EXPECT_EQ(client.bottom, 322);

  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  EXPECT_EQ(WaitForExit(first), 0u);
  const auto entries = LogEntries();
  ASSERT_FALSE(entries.empty());
  EXPECT_EQ(Message(entries.back()), "Closing...");
  EXPECT_EQ(entries.back().rfind("[ ", 0), 0u) << entries.back();
  EXPECT_TRUE(WaitFor([] { return WineTrayIconCount() == 0; })) << "the icon goes with it";
}

TEST_F(Program, MenuCommandsReachTheirHandlers) {
  first = Start(kUmbraneExe);
  HWND main = WaitForMainWindow(first);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitForUpdateDone());

  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdAbout1, 0));
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(main) != FALSE; })) << "About shows the window";
  EXPECT_NE(GetWindow(main, GW_OWNER), nullptr) << "an owned window has no task-bar button";
  EXPECT_EQ(GetWindowLongPtrA(main, GWL_EXSTYLE) & WS_EX_APPWINDOW, 0);
  char label[64] = {};
  HWND appName = FindWindowExA(main, nullptr, "Static", nullptr);
  (void)GetWindowTextA(appName, label, sizeof label);
  EXPECT_STREQ(label, "Umbrane 4.01 Beta");
  RECT form = {}, text = {};
  (void)GetWindowRect(main, &form);
  (void)GetWindowRect(appName, &text);
  EXPECT_LE(std::abs((text.left - form.left) - (form.right - text.right)), 8) << "centred";
  testing::PumpMessages(300);
  EXPECT_TRUE(testing::SaveScreenshot(testing::HostPath(UMBRANE_SCREENSHOTS "/about.png"), form));

  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdAboutOK, 0));
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(main) == FALSE; })) << "OK hides it";

  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdAbout1, 0));
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(main) != FALSE; }));
  ASSERT_TRUE(PostMessageA(main, WM_SYSCOMMAND, SC_MINIMIZE, 0));
  EXPECT_TRUE(WaitFor([&] { return IsWindowVisible(main) == FALSE; })) << "minimize hides it";
  EXPECT_EQ(WaitForSingleObject(first.process.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));

  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdExit1, 0));
  EXPECT_EQ(WaitForExit(first), 0u);
  EXPECT_EQ(MessagesAfterUpdate(), std::vector<std::string>{"Closing..."});
}

TEST_F(Program, HelpOpensTheHelpFileBuiltBesideTheProgram) {
  first = Start(kUmbraneExe);
  HWND main = WaitForMainWindow(first);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdHelp1, 0));
  HWND help = nullptr;
  EXPECT_TRUE(
      WaitFor([&] { return (help = FindWindowA("HH Parent", "Umbrane Help")) != nullptr; }, 20000));
  if (help != nullptr) {
    (void)PostMessageA(help, WM_CLOSE, 0, 0);
  }
}

TEST_F(Program, ClosingTheAboutWindowEndsTheProgram) {
  first = Start(kUmbraneExe);
  HWND main = WaitForMainWindow(first);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdAbout1, 0));
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(main) != FALSE; }));
  ASSERT_TRUE(PostMessageA(main, WM_SYSCOMMAND, SC_CLOSE, 0));  // Alt+F4
  EXPECT_EQ(WaitForExit(first), 0u);
  EXPECT_EQ(Message(LogEntries().back()), "Closing...");
}

TEST_F(Program, IconComesBackAfterTheShellRestarts) {
  first = Start(kUmbraneExe);
  ASSERT_NE(WaitForMainWindow(first), nullptr);
  ASSERT_TRUE(WaitFor([] { return WineTrayIconCount() == 1; }));
  const auto trayWindows = WindowsOf(first.id, "UmbraneTrayWindow");
  ASSERT_EQ(trayWindows.size(), 1u);

  // A shell that restarts has lost every icon...
  NOTIFYICONDATAA gone = {};
  gone.cbSize = sizeof gone;
  gone.hWnd = trayWindows[0];
  gone.uID = 1;
  ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &gone));
  ASSERT_TRUE(WaitFor([] { return WineTrayIconCount() == 0; }));
  // ...and tells every top-level window that it is back.
  ASSERT_TRUE(PostMessageA(HWND_BROADCAST, RegisterWindowMessageA("TaskbarCreated"), 0, 0));
  EXPECT_TRUE(WaitFor([] { return WineTrayIconCount() == 1; }));
}

TEST_F(Program, SecondStartEndsAtOnceWithoutAWindow) {
  first = Start(kUmbraneExe);
  ASSERT_NE(WaitForMainWindow(first), nullptr);
  second = Start(kUmbraneExe);
  ASSERT_TRUE(second.process.Valid());
  EXPECT_EQ(WaitForExit(second), 0u);
  EXPECT_TRUE(WindowsOf(second.id).empty());
  EXPECT_EQ(WindowsOf(first.id, "TfrmMain").size(), 1u) << "the first instance is untouched";
  EXPECT_EQ(WaitForSingleObject(first.process.Get(), 0), static_cast<DWORD>(WAIT_TIMEOUT));
}

TEST_F(Program, ExitCommandRunsTheShutdown) {
  first = Start(kUmbraneExe);
  HWND main = WaitForMainWindow(first);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitForUpdateDone());
  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdExit1, 0));
  EXPECT_EQ(WaitForExit(first), 0u);
  const auto entries = LogEntries();
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(Message(entries[0]), "SilentUpdate");
  EXPECT_EQ(Message(entries[1]), "SilentUpdate Failed!") << "no update service is running";
  EXPECT_EQ(Message(entries[2]), "Closing...");
}

TEST_F(Program, MissingSkinIsReportedAndTheProgramCloses) {
  // A copy of the program in a folder without default.skn.
  char temp[MAX_PATH] = {};
  (void)GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "umbrane-noskin";
  (void)CreateDirectoryA(folder.c_str(), nullptr);
  const std::string exe = folder + "\\umbrane.exe";
  ASSERT_TRUE(CopyFileA(kUmbraneExe.c_str(), exe.c_str(), FALSE));
  (void)DeleteFileA((folder + "\\default.skn").c_str());

  first = Start(exe);
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    for (HWND w : WindowsOf(first.id, "#32770")) {
      char caption[32] = {};
      (void)GetWindowTextA(w, caption, sizeof caption);
      if (lstrcmpA(caption, "Error") == 0) {
        box = w;
      }
    }
    return box != nullptr;
  }));
  char text[128] = {};
  (void)GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
  EXPECT_STREQ(text, "Can not find Skin File");
  ASSERT_TRUE(PostMessageA(box, WM_COMMAND, IDOK, 0));
  EXPECT_EQ(WaitForExit(first), 0u);
  const auto entries = LogEntries();
  ASSERT_EQ(entries.size(), 1u) << "only the shutdown is logged";
  EXPECT_EQ(Message(entries[0]), "Closing...");
  (void)DeleteFileA(exe.c_str());
  (void)RemoveDirectoryA(folder.c_str());
}

}  // namespace
}  // namespace umbrane::e2e
