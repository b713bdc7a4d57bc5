// Adapter tests that need windows, and so an X display under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include "proxy/Probes.h"
#include "win32/Win32TopLevelWindows.h"

namespace umbrane::win32 {
namespace {

class TestWindow {
 public:
  explicit TestWindow(const char* title) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = "UmbraneTestWindow";
    (void)RegisterClassA(&wc);
    hwnd_ = CreateWindowA(wc.lpszClassName, title, WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                          nullptr, wc.hInstance, nullptr);
  }
  ~TestWindow() {
    if (hwnd_ != nullptr) {
      (void)DestroyWindow(hwnd_);
    }
  }
  HWND Get() const { return hwnd_; }

 private:
  HWND hwnd_ = nullptr;
};

TEST(Win32TopLevelWindows, FindWindowByTitleFindsAWindowOfThisTest) {
  TestWindow window("Start Page - Mozilla Firefox (umbrane test)");
  ASSERT_NE(window.Get(), nullptr);
  Win32TopLevelWindows windows;
  EXPECT_EQ(FindWindowByTitle(windows, "mozilla FIREFOX (umbrane"),
            reinterpret_cast<WindowId>(window.Get()));
  EXPECT_EQ(windows.Title(reinterpret_cast<WindowId>(window.Get())),
            "Start Page - Mozilla Firefox (umbrane test)");
  EXPECT_EQ(FindWindowByTitle(windows, "no window is called like this 7f3a"), 0u);
  EXPECT_EQ(FindWindowByTitle(windows, ""), 0u);
}

TEST(Win32TopLevelWindows, TitlesAreCutAt254Characters) {
  const std::string title(300, 'T');
  TestWindow window(title.c_str());
  ASSERT_NE(window.Get(), nullptr);
  Win32TopLevelWindows windows;
  EXPECT_EQ(windows.Title(reinterpret_cast<WindowId>(window.Get())), std::string(254, 'T'));
}

}  // namespace
}  // namespace umbrane::win32
