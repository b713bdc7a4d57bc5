#include <gtest/gtest.h>

#include "FakePorts.h"
#include "FakeTray.h"
#include "app/CoolTrayIcon.h"

namespace umbrane {
namespace {

using fakes::CallLog;
using fakes::FakeMainForm;
using fakes::FakeNotificationArea;
using fakes::FakeTrayMenu;

class TrayTest : public ::testing::Test {
 protected:
  CallLog calls;
  FakeNotificationArea area{&calls};
  FakeMainForm form{&calls};
  FakeTrayMenu menu;
  TCoolTrayIcon tray{area, form, &menu};

  // Configured and loaded as the main form does it.
  void Load() {
    tray.SetIconList(&imlBusy);
    tray.SetHint("Umbrane");
    tray.SetIconVisible(true);
    tray.OnStartup = [](bool& show) { show = false; };
    tray.Loaded();
  }
  std::vector<int> ShownIndexes() const {
    std::vector<int> indexes;
    for (const auto& c : area.Named("Modify")) {
      indexes.push_back(c.record.index);
    }
    return indexes;
  }
};

TEST_F(TrayTest, StartupHidesTheWindowThenAddsTheStillFirstFrame) {
  Load();
  EXPECT_EQ(calls.calls,
            (std::vector<std::string>{"HideForm", "TrayAdd", "TrayStopTimer", "TraySetVersion"}));
  const TrayRecord added = area.Named("Add").at(0).record;
  EXPECT_EQ(added.flags, kNifMessage | kNifIcon | kNifTip);
  EXPECT_EQ(added.list, ImageListId::Busy);
  EXPECT_EQ(added.index, 0);
  EXPECT_EQ(added.tip, "Umbrane");
  EXPECT_EQ(area.Named("SetVersion").at(0).value, 0u);
  EXPECT_FALSE(form.visible);
}

TEST_F(TrayTest, StartupShowsTheWindowWhenTheHandlerAllowsIt) {
  tray.SetIconVisible(true);
  form.visible = false;
  tray.Loaded();  // no OnStartup handler: the form shows as usual
  EXPECT_EQ(calls.calls.front(), "TrayAdd");
  EXPECT_FALSE(form.visible) << "the tray does not show the window itself";
}

TEST_F(TrayTest, IndexIsClampedToTheListAndZeroWithoutOne) {
  tray.SetIconIndex(5);
  EXPECT_EQ(tray.IconIndex(), 0) << "no list";
  tray.SetIconList(&imlStatus);
  tray.SetIconIndex(5);
  EXPECT_EQ(tray.IconIndex(), 1);
  tray.SetIconIndex(-3);
  EXPECT_EQ(tray.IconIndex(), 0);
  tray.SetIconIndex(1);
  tray.SetIconList(&imlBusy);
  EXPECT_EQ(tray.IconIndex(), 0) << "a new list starts at its first image";
}

TEST_F(TrayTest, CyclingRunsThroughEveryFrameAndWrapsAround) {
  Load();
  area.calls.clear();
  tray.SetCycleInterval(300);
  EXPECT_FALSE(area.timerRunning) << "the interval alone starts nothing";
  tray.SetCycleIcons(true);
  EXPECT_TRUE(area.timerRunning);
  EXPECT_EQ(area.timerInterval, 300u);
  for (int i = 0; i < 8; ++i) {
    tray.CycleTick();
  }
  EXPECT_EQ(ShownIndexes(), (std::vector<int>{0, 1, 2, 3, 4, 5, 6, 0, 1}));
  tray.SetCycleIcons(false);
  EXPECT_FALSE(area.timerRunning);
  EXPECT_EQ(tray.IconIndex(), 1) << "stopping keeps the image shown";
}

TEST_F(TrayTest, ChangingTheIntervalReappliesCycling) {
  Load();
  tray.SetCycleInterval(300);
  tray.SetCycleIcons(true);
  tray.CycleTick();
  tray.CycleTick();
  area.calls.clear();
  tray.SetCycleInterval(300);
  EXPECT_TRUE(area.calls.empty()) << "an unchanged interval does nothing";
  tray.SetCycleInterval(150);
  EXPECT_EQ(tray.IconIndex(), 0) << "cycling restarts at the first frame";
  EXPECT_EQ(area.timerInterval, 150u);
}

TEST_F(TrayTest, BalloonSequenceAndTruncation) {
  Load();
  area.calls.clear();
  const std::string longText(300, 't');
  const std::string longTitle(70, 'T');
  EXPECT_TRUE(tray.ShowBalloon(longTitle, longText, 3, 10));
  ASSERT_EQ(area.calls.size(), 2u);
  const TrayRecord hide = area.calls[0].record;
  EXPECT_EQ(hide.flags, kNifMessage | kNifIcon | kNifTip | kNifInfo);
  EXPECT_EQ(hide.info, "") << "the balloon still up is taken down first";
  const TrayRecord show = area.calls[1].record;
  EXPECT_EQ(show.flags, kNifMessage | kNifIcon | kNifTip | kNifInfo);
  EXPECT_EQ(show.info, std::string(255, 't'));
  EXPECT_EQ(show.infoTitle, std::string(63, 'T'));
  EXPECT_EQ(show.timeoutMs, 10000u);
  EXPECT_EQ(show.infoFlags, 3u);
  EXPECT_EQ(tray.Record().flags, kNifMessage | kNifIcon | kNifTip) << "flags set back";

  area.modifyResult = false;
  EXPECT_FALSE(tray.ShowBalloon("t", "x", 1, 10)) << "the system's answer is handed back";
}

TEST_F(TrayTest, TipIsCutAt127AndEmptyWhenHintsAreOff) {
  Load();
  tray.SetHint(std::string(200, 'h'));
  EXPECT_EQ(area.calls.back().record.tip, std::string(127, 'h'));
  EXPECT_EQ(tray.Hint().size(), 200u) << "the hint itself is kept whole";
  tray.SetShowHint(false);
  EXPECT_EQ(area.calls.back().record.tip, "");
}

TEST_F(TrayTest, NothingIsModifiedBeforeTheIconIsAdded) {
  tray.SetIconList(&imlBusy);
  tray.SetHint("x");
  EXPECT_TRUE(area.Named("Modify").empty());
}

TEST_F(TrayTest, MouseLeftUpClicksRightDownOpensTheMenuDoubleClickAddsNothing) {
  Load();
  int clicks = 0;
  tray.OnClick = [&] { ++clicks; };
  tray.MouseAction(TrayMouse::LeftDown);
  tray.MouseAction(TrayMouse::LeftUp);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(menu.popups, 0) << "the left button does not open the menu";
  tray.MouseAction(TrayMouse::LeftDoubleClick);
  tray.MouseAction(TrayMouse::RightUp);
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(menu.popups, 0);
  tray.MouseAction(TrayMouse::RightDown);
  EXPECT_EQ(menu.popups, 1);
  tray.SetLeftPopup(true);
  tray.MouseAction(TrayMouse::LeftUp);
  EXPECT_EQ(menu.popups, 2);
}

TEST_F(TrayTest, ShellRestartAddsTheIconAgainWithItsCurrentPictureAndTip) {
  Load();
  tray.SetIconList(&imlStatus);
  tray.SetIconIndex(1);
  tray.SetHint("Umbrane OFF");
  tray.TaskbarCreated();
  const auto adds = area.Named("Add");
  ASSERT_EQ(adds.size(), 2u);
  EXPECT_EQ(adds[1].record.list, ImageListId::Status);
  EXPECT_EQ(adds[1].record.index, 1);
  EXPECT_EQ(adds[1].record.tip, "Umbrane OFF");
  tray.SetIconVisible(false);
  tray.TaskbarCreated();
  EXPECT_EQ(area.Named("Add").size(), 2u) << "an icon meant to be hidden stays away";
}

TEST_F(TrayTest, ARefusedIconIsOfferedEachSecondUntilTheShellTakesIt) {
  area.addAnswers = {false, false, false};  // the shell is not ready at sign-in
  Load();
  EXPECT_TRUE(area.retryTimerRunning);
  EXPECT_EQ(area.retryInterval, 1000u);
  tray.SetHint("Connecting");
  tray.RetryTick();
  tray.RetryTick();
  EXPECT_EQ(area.added, 0);
  tray.RetryTick();
  EXPECT_EQ(area.added, 1);
  EXPECT_FALSE(area.retryTimerRunning);
  EXPECT_EQ(area.Named("Add").back().record.tip, "Connecting") << "with what it shows now";
  EXPECT_EQ(area.Named("Add").size(), 4u);
}

TEST_F(TrayTest, RetriesStopAfterAMinuteAndTheShellsStartStillAddsTheIcon) {
  area.addAnswers.assign(61, false);
  Load();
  for (int i = 0; i < 80 && area.retryTimerRunning; ++i) {
    tray.RetryTick();
  }
  EXPECT_FALSE(area.retryTimerRunning);
  EXPECT_EQ(area.Named("Add").size(), 61u) << "the first try and sixty more, one a second";
  tray.TaskbarCreated();
  EXPECT_EQ(area.added, 1);
}

TEST_F(TrayTest, MinimizeHidesTheWindowAndDestroyRemovesTheIcon) {
  Load();
  tray.SetMinimizeToTray(true);
  form.visible = true;
  tray.Minimized();
  EXPECT_FALSE(form.visible);
  tray.ShowMainWindow();
  EXPECT_TRUE(form.visible);
  tray.Destroy();
  EXPECT_EQ(area.added, 0);
  tray.Destroy();
  EXPECT_EQ(area.Named("Delete").size(), 1u) << "removed once";
}

}  // namespace
}  // namespace umbrane
