// Every way out gives the browsers back: an exit while the try-again
// question is open, a close whatever its timers would still do, and Windows
// ending the session.
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

TEST_F(Switch, AnExitUnderTheRetryQuestionIsTheEndWhateverTheAnswer) {
  Ready();
  Retries(1);
  calls.calls.clear();
  Agent().Print("160033 relay unreachable\r\n");
  timers.Advance(TfrmMain::kReadInterval);
  main.FormClose();
  EXPECT_TRUE(dialogs.Answer(MessageAnswer::Yes));
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
