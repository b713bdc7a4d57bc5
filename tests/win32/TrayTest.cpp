// The notification-area adapter with the tray component, against Wine's
// system tray.
#include <gtest/gtest.h>
#include <windows.h>

#include "Screenshot.h"
#include "WaitFor.h"
#include "WineTray.h"
#include "app/CoolTrayIcon.h"
#include "win32/Dpi.h"
#include "win32/MainWindow.h"
#include "win32/Win32NotificationArea.h"

namespace umbrane::win32 {
namespace {

using testing::PumpMessages;
using testing::WaitFor;
using testing::WineTrayIconCount;

TEST(Win32NotificationArea, IconIsAddedShowsABalloonAndIsRemoved) {
  const int before = WineTrayIconCount();
  HINSTANCE instance = GetModuleHandleA(nullptr);
  MainWindow window(instance);
  Win32NotificationArea area(instance);
  TCoolTrayIcon tray(area, window, &window.Menu());
  tray.SetIconList(&imlBusy);
  tray.SetHint("Umbrane");
  tray.SetIconVisible(true);
  tray.OnStartup = [](bool& show) { show = false; };
  tray.Loaded();
  EXPECT_TRUE(WaitFor([&] { return WineTrayIconCount() == before + 1; }));
  EXPECT_FALSE(IsWindowVisible(window.Hwnd()));

  tray.SetCycleInterval(300);
  tray.SetCycleIcons(true);
  EXPECT_TRUE(tray.ShowBalloon("Umbrane", "SilentUpdate. Please wait...", 1, 10));
  PumpMessages(3000);  // Wine shows a balloon two seconds after it is asked for
  EXPECT_TRUE(testing::SaveScreenshot(testing::HostPath(UMBRANE_SCREENSHOTS "/tray-balloon.png")));

  tray.HideBalloon();
  tray.Destroy();
  EXPECT_TRUE(WaitFor([&] { return WineTrayIconCount() == before; }));
}

// The tray's pictures are drawn at the small-icon size the system asks for
// at the DPI of the icon's window.
TEST(TrayImages, EveryPictureIsAnIconOfTheSizeTheSystemAsksFor) {
  Win32NotificationArea area(GetModuleHandleA(nullptr));
  EXPECT_EQ(area.IconSize(), MetricForDpi(SM_CXSMICON, WindowDpi(area.Hwnd())));
  TrayImages images(24);
  EXPECT_NE(images.Icon(ImageListId::None, 0), nullptr);
  for (int i = 0; i < kBusyFrames; ++i) {
    EXPECT_NE(images.Icon(ImageListId::Busy, i), nullptr) << i;
  }
  EXPECT_NE(images.Icon(ImageListId::Status, 0), images.Icon(ImageListId::Status, 1));
  ICONINFO info = {};
  ASSERT_TRUE(GetIconInfo(images.Icon(ImageListId::Status, 0), &info));
  BITMAP bitmap = {};
  (void)GetObjectA(info.hbmColor, sizeof bitmap, &bitmap);
  EXPECT_EQ(bitmap.bmWidth, 24);
  EXPECT_EQ(bitmap.bmHeight, 24);
  (void)DeleteObject(info.hbmColor);
  (void)DeleteObject(info.hbmMask);
}

}  // namespace
}  // namespace umbrane::win32
