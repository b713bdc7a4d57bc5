// umbrane.exe at 100 % and at 200 %: Wine takes its DPI from the registry
// when a process starts, so each run below sets it first. The about window
// and a message box must be laid out for that DPI, with the label inside
// the window; screenshots are kept for a person to look at.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <string>

#include "ProgramDriver.h"
#include "Screenshot.h"
#include "WaitFor.h"
#include "WineTray.h"
#include "app/Commands.h"

namespace umbrane::e2e {
namespace {

using testing::HostPath;
using testing::WaitFor;

constexpr const char* kDesktopKey = "Control Panel\\Desktop";

// Sets the DPI that processes started from now on are shown at, and puts the
// earlier setting back at the end.
class SystemDpi {
 public:
  explicit SystemDpi(DWORD dpi) {
    DWORD size = sizeof old_;
    had_ = RegGetValueA(HKEY_CURRENT_USER, kDesktopKey, "LogPixels", RRF_RT_REG_DWORD, nullptr,
                        &old_, &size) == ERROR_SUCCESS;
    Set(dpi);
  }
  ~SystemDpi() {
    if (had_) {
      Set(old_);
    } else {
      (void)RegDeleteKeyValueA(HKEY_CURRENT_USER, kDesktopKey, "LogPixels");
    }
  }
  SystemDpi(const SystemDpi&) = delete;
  SystemDpi& operator=(const SystemDpi&) = delete;

 private:
  static void Set(DWORD dpi) {
    (void)RegSetKeyValueA(HKEY_CURRENT_USER, kDesktopKey, "LogPixels", REG_DWORD, &dpi, sizeof dpi);
  }
  DWORD old_ = 0;
  bool had_ = false;
};

RECT ClientOnScreen(HWND window) {
  RECT r = {};
  (void)GetClientRect(window, &r);
  (void)MapWindowPoints(window, nullptr, reinterpret_cast<POINT*>(&r), 2);
  return r;
}

bool Inside(const RECT& inner, const RECT& outer) {
  return inner.left >= outer.left && inner.top >= outer.top && inner.right <= outer.right &&
         inner.bottom <= outer.bottom;
}

class Dpi : public ::testing::TestWithParam<int> {
 protected:
  void SetUp() override { (void)DeleteFileA(LogPath().c_str()); }
  void TearDown() override {
    if (run.process.Valid() && WaitForSingleObject(run.process.Get(), 0) == WAIT_TIMEOUT) {
      (void)TerminateProcess(run.process.Get(), 1);
      (void)WaitForSingleObject(run.process.Get(), 5000);
    }
  }
  int Px(int units) const { return MulDiv(units, GetParam(), 96); }
  std::string Shot(const char* name) const {
    return HostPath(std::string(UMBRANE_SCREENSHOTS "/") + name + "-" + std::to_string(GetParam()) +
                    ".png");
  }
  Running run;
};

TEST_P(Dpi, TheAboutWindowAndTheMessageBoxAreLaidOutForTheDpiWithTheLabelInside) {
  SystemDpi dpi(static_cast<DWORD>(GetParam()));
  run = Start(kUmbraneExe);
  HWND main = WaitForMainWindow(run);
  ASSERT_NE(main, nullptr);
  ASSERT_TRUE(WaitForUpdateDone());
  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdAbout1, 0));
  ASSERT_TRUE(WaitFor([&] { return IsWindowVisible(main) != FALSE; }));
  testing::PumpMessages(300);

  const RECT client = ClientOnScreen(main);
  EXPECT_EQ(client.right - client.left, Px(357));
  EXPECT_EQ(client.bottom - client.top, Px(322));
  HWND appName = FindWindowExA(main, nullptr, "Static", nullptr);
  RECT label = {};
  (void)GetWindowRect(appName, &label);
  EXPECT_TRUE(Inside(label, client)) << "the label is not cut";
  EXPECT_GT(label.bottom - label.top, Px(18)) << "its font follows the DPI";
  EXPECT_LE(std::abs((label.left - client.left) - (client.right - label.right)), Px(12))
      << "centred";
  RECT ok = {};
  (void)GetWindowRect(GetDlgItem(main, kCmdAboutOK), &ok);
  EXPECT_EQ(ok.bottom - ok.top, Px(33));
  EXPECT_TRUE(Inside(ok, client));
  RECT frame = {};
  (void)GetWindowRect(main, &frame);
  EXPECT_TRUE(testing::SaveScreenshot(Shot("about"), frame));
  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdExit1, 0));
  EXPECT_EQ(WaitForExit(run), 0u);

  // A copy without its skin raises an error box at once.
  char temp[MAX_PATH] = {};
  (void)GetTempPathA(MAX_PATH, temp);
  const std::string folder = std::string(temp) + "umbrane-dpi";
  (void)CreateDirectoryA(folder.c_str(), nullptr);
  const std::string exe = folder + "\\umbrane.exe";
  ASSERT_TRUE(CopyFileA(kUmbraneExe.c_str(), exe.c_str(), FALSE));
  run = Start(exe);
  HWND box = nullptr;
  ASSERT_TRUE(WaitFor([&] {
    const auto boxes = WindowsOf(run.id, "#32770");
    box = boxes.empty() ? nullptr : boxes.front();
    return box != nullptr;
  }));
  testing::PumpMessages(300);
  const RECT boxClient = ClientOnScreen(box);
  RECT button = {}, text = {}, icon = {};
  (void)GetWindowRect(GetDlgItem(box, IDOK), &button);
  (void)GetWindowRect(GetDlgItem(box, 0xFFFF), &text);
  (void)GetWindowRect(GetDlgItem(box, 0x0014), &icon);
  EXPECT_EQ(button.bottom - button.top, Px(26));
  EXPECT_EQ(icon.right - icon.left, Px(32));
  EXPECT_GE(button.right - button.left, Px(80));
  for (const RECT& part : {button, text, icon}) {
    EXPECT_TRUE(Inside(part, boxClient));
  }
  RECT boxFrame = {};
  (void)GetWindowRect(box, &boxFrame);
  EXPECT_TRUE(testing::SaveScreenshot(Shot("error-box"), boxFrame));
  ASSERT_TRUE(PostMessageA(box, WM_COMMAND, IDOK, 0));
  EXPECT_EQ(WaitForExit(run), 0u);
  (void)DeleteFileA(exe.c_str());
  (void)RemoveDirectoryA(folder.c_str());
}

INSTANTIATE_TEST_SUITE_P(At, Dpi, ::testing::Values(96, 144, 192));

}  // namespace
}  // namespace umbrane::e2e
