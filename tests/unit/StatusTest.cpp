// What the user sees: SetUmbraneStatus, the menu's entries and the about
// window's commands.
#include <gtest/gtest.h>

#include "AppHarness.h"
#include "app/Commands.h"
#include "app/TfrmMain.h"

namespace umbrane {
namespace {

using namespace fakes;

class Status : public ::testing::Test, public AppHarness {
 protected:
  void SetUp() override { main.FormCreate(); }
  TrayRecord Shown() const { return tray.calls.back().record; }
  TrayRecord BalloonRecord() const { return tray.Named("Modify").back().record; }
  std::pair<bool, bool> Entries() {
    return {menu.Enabled(kCmdUmbrane1), menu.Enabled(kCmdStopUmbrane1)};
  }
};

TEST_F(Status, StartsHiddenWithStillFirstBusyFrameAndConnectDisabled) {
  EXPECT_FALSE(form.visible);
  ASSERT_EQ(tray.Named("Add").size(), 1u);
  const TrayRecord added = tray.Named("Add")[0].record;
  EXPECT_EQ(added.list, ImageListId::Busy);
  EXPECT_EQ(added.index, 0);
  EXPECT_EQ(added.tip, "Umbrane");
  EXPECT_FALSE(tray.timerRunning);
  EXPECT_EQ(Entries(), std::make_pair(false, true));
  for (int command : {kCmdSeeMyIP1, kCmdReport1, kCmdHelp1, kCmdAbout1, kCmdExit1}) {
    EXPECT_TRUE(menu.Enabled(command)) << command;
  }
}

TEST_F(Status, BusyAnimatesWithTheMessageAsTipAndLeavesTheMenu) {
  main.SetUmbraneStatus(2, "Umbrane OFF", 1);
  main.SetUmbraneStatus(0, "Connecting to Internet. Please wait...", 1);
  EXPECT_TRUE(tray.timerRunning);
  EXPECT_EQ(tray.timerInterval, 300u);
  EXPECT_EQ(Shown().list, ImageListId::Busy);
  EXPECT_EQ(Shown().index, 0);
  EXPECT_EQ(Shown().tip, "Connecting to Internet. Please wait...");
  EXPECT_EQ(BalloonRecord().infoTitle, "Umbrane");
  EXPECT_EQ(BalloonRecord().info, "Connecting to Internet. Please wait...");
  EXPECT_EQ(BalloonRecord().infoFlags, 1u);
  EXPECT_EQ(BalloonRecord().timeoutMs, 10000u);
  EXPECT_EQ(Entries(), std::make_pair(true, false)) << "busy leaves the entries as off set them";
}

TEST_F(Status, TwoBusyStatusesRestartTheAnimationAtFrameZero) {
  main.SetUmbraneStatus(0, "SilentUpdate. Please wait...", 1);
  main.ctiControl().CycleTick();
  main.ctiControl().CycleTick();
  EXPECT_EQ(main.ctiControl().IconIndex(), 2);
  main.SetUmbraneStatus(0, "Connecting to Internet. Please wait...", 1);
  EXPECT_EQ(main.ctiControl().IconIndex(), 0);
  EXPECT_EQ(tray.timerInterval, 300u);
}

TEST_F(Status, BusyThenOnStopsAtTheOnPicture) {
  main.SetUmbraneStatus(0, "Connecting to Internet. Please wait...", 1);
  main.ctiControl().CycleTick();
  main.SetUmbraneStatus(1, "Umbrane ON", 1);
  EXPECT_FALSE(tray.timerRunning);
  EXPECT_EQ(Shown().list, ImageListId::Status);
  EXPECT_EQ(Shown().index, 0);
  EXPECT_EQ(Shown().tip, "Umbrane ON");
  EXPECT_EQ(Entries(), std::make_pair(false, true));
}

TEST_F(Status, OffShowsTheOffPictureAndEnablesConnect) {
  main.SetUmbraneStatus(2, "SilentUpdate Failed!", 3);
  EXPECT_EQ(Shown().list, ImageListId::Status);
  EXPECT_EQ(Shown().index, 1);
  EXPECT_EQ(Shown().tip, "Umbrane OFF");
  EXPECT_EQ(BalloonRecord().info, "SilentUpdate Failed!");
  EXPECT_EQ(BalloonRecord().infoFlags, 3u);
  EXPECT_EQ(Entries(), std::make_pair(true, false));
}

TEST_F(Status, OtherKindsChangeNothing) {
  main.SetUmbraneStatus(2, "Umbrane OFF", 1);
  const auto before = tray.calls.size();
  main.SetUmbraneStatus(3, "ignored", 1);
  main.SetUmbraneStatus(255, "ignored", 3);
  EXPECT_EQ(tray.calls.size(), before);
  EXPECT_EQ(Entries(), std::make_pair(true, false));
}

TEST_F(Status, AboutAndTrayClickShowTheWindowOkHidesIt) {
  calls.calls.clear();
  main.OnCommand(kCmdAbout1);
  main.OnCommand(kCmdAboutOK);
  main.ctiControl().MouseAction(TrayMouse::LeftUp);
  main.ctiControl().Minimized();
  EXPECT_EQ(calls.calls,
            (std::vector<std::string>{"ShowForm", "HideForm", "ShowForm", "HideForm"}));
  main.ctiControl().MouseAction(TrayMouse::RightDown);
  EXPECT_EQ(menu.popups, 1);
}

TEST_F(Status, FormDestroyRemovesTheIcon) {
  main.FormDestroy();
  EXPECT_EQ(tray.added, 0);
}

}  // namespace
}  // namespace umbrane
