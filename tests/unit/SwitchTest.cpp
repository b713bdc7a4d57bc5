// No switch inside a switch, and every way out gives the browsers back: a
// stop, an exit or a poll that arrives while a restart notice of the switch
// is up, and Windows ending the session.
#include <gtest/gtest.h>

#include <algorithm>

#include "proxy/BypassList.h"
#include "AppHarness.h"
#include "app/Commands.h"

namespace umbrane {
namespace {

using namespace fakes;
using Texts = std::vector<std::string>;

const std::string kOn =
    std::string("SetBrowsersProxy on [127.0.0.1:7070][usa][") + kLocalBypass + "]";
constexpr const char* kOff = "SetBrowsersProxy off [][][]";

class Switch : public ::testing::Test, public AppHarness {
 protected:
  void SetUp() override {
    fetcher.reply = "";
    main.FormCreate();
    main.InitRun();
    logSkip = Log().size();
    main.OnCommand(kCmdUmbrane1);
  }
  FakeAgentState& Agent() { return agents.Last(); }
  void Ready() {
    Agent().Print("160138 ready\r\n");
    timers.Advance(TfrmMain::kReadInterval);
  }
  Texts Switches() {
    Texts found;
    std::copy_if(calls.calls.begin(), calls.calls.end(), std::back_inserter(found),
                 [](const std::string& c) { return c.rfind("SetBrowsersProxy", 0) == 0; });
    return found;
  }
};

TEST_F(Switch, StopUnderTheApplysNoticeWinsAndNoPollSwitchesMeanwhile) {
  browsers.whileSwitching = [this] {
    main.OnCommand(kCmdStopUmbrane1);
    Agent().Print("160138 ready again\r\n");
    timers.Advance(3000);  // the poll's ticks while the notice is up
  };
  Ready();
  EXPECT_EQ(Switches(), (Texts{kOn, kOff})) << "the stop runs after the apply, never inside";
  EXPECT_EQ(Log(), Texts{"User stopped Umbrane"}) << "no Umbrane ON";
  EXPECT_EQ(Tip(), "Umbrane OFF");
  EXPECT_TRUE(Agent().terminated);
  EXPECT_FALSE(timers.Running(TimerId::Read));
  EXPECT_FALSE(browsers.HasSavedState());
}

TEST_F(Switch, ExitUnderTheApplysNoticeClosesAfterItWithEverythingGivenBack) {
  browsers.whileSwitching = [this] { EXPECT_FALSE(main.CloseQuery()) << "held back"; };
  Ready();
  EXPECT_EQ(form.closeRequests, 1) << "asked again once the switch ended";
  const Texts log = Log();
  EXPECT_TRUE(std::find(log.begin(), log.end(), "Umbrane ON") == log.end());
  Agent().Print("160138\r\n");
  timers.Advance(5000);
  main.OnCommand(kCmdUmbrane1);
  EXPECT_EQ(Switches(), Texts{kOn}) << "nothing switches while the close is on its way";
  EXPECT_EQ(agents.started.size(), 1u);

  ASSERT_TRUE(main.CloseQuery());
  main.FormClose();
  EXPECT_EQ(Switches(), (Texts{kOn, kOff}));
  EXPECT_EQ(Log().back(), "Closing...");
  EXPECT_TRUE(Agent().terminated);
}

TEST_F(Switch, CloseTurnsTheTimersOffBeforeItsRestore) {
  Ready();
  calls.calls.clear();
  browsers.whileSwitching = [this] {
    Agent().Print("160138\r\n");
    timers.Advance(6000);
  };
  main.FormClose();
  EXPECT_EQ(Switches(), Texts{kOff});
  EXPECT_FALSE(timers.Running(TimerId::Read));
  EXPECT_FALSE(timers.Running(TimerId::Reset));
}

TEST_F(Switch, SessionEndRunsTheShutdownAtOnceWithoutAnyDialog) {
  Ready();
  calls.calls.clear();
  EXPECT_TRUE(main.FormQueryEndSession());
  main.FormEndSession(false);  // another program cancelled the end
  EXPECT_TRUE(calls.calls.empty());
  EXPECT_TRUE(main.AgentRunning());

  Agent().terminateFails = true;
  main.FormEndSession(true);
  EXPECT_EQ(Switches(), Texts{std::string(kOff) + " silent"});
  EXPECT_EQ(Log().back(), "Closing...");
  EXPECT_TRUE(dialogs.boxes.empty()) << "no box may wait for a user who is leaving";
}

TEST_F(Switch, SessionEndUnderTheApplysNoticeLeavesTheBrowsersBack) {
  browsers.whileSwitching = [this] { main.FormEndSession(true); };
  Ready();
  EXPECT_EQ(Switches(), (Texts{kOn, std::string(kOff) + " silent"}));
  EXPECT_EQ(Log(), Texts{"Closing..."}) << "no Umbrane ON after the shutdown";
  EXPECT_FALSE(main.AgentRunning());
}

TEST_F(Switch, AnExitUnderTheRetryQuestionIsTheEndWhateverTheAnswer) {
  Ready();
  g.RetryCount = 1;
  dialogs.whileOpen = [this] { main.FormClose(); };
  dialogs.answers.push_back(MessageAnswer::Yes);
  calls.calls.clear();
  Agent().Print("160033 relay unreachable\r\n");
  timers.Advance(TfrmMain::kReadInterval);
  EXPECT_EQ(Switches(), Texts{kOff});
  EXPECT_EQ(Log().back(), "Closing...");
  EXPECT_FALSE(timers.Running(TimerId::Reset)) << "no reconnect after the close";
  timers.Advance(60000);
  EXPECT_EQ(agents.started.size(), 1u);
}

TEST_F(Switch, ABrowserNoteDuringTheSwitchReachesTheLog) {
  ASSERT_TRUE(browsers.report);
  files.failingWrites.insert(std::string(kHarnessData) + "log.txt");
  browsers.report("Firefox could not be brought to the front");  // must not throw
  files.failingWrites.clear();
  Ready();
  EXPECT_EQ(Log(), (Texts{"Firefox could not be brought to the front", "Umbrane ON"}));
}

}  // namespace
}  // namespace umbrane
