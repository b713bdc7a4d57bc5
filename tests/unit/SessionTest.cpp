// The session: failures, reconnects, the question, deaths, stop and exit,
// every state and event, on a virtual clock with dialogs that can let time
// pass while they are up.
#include <gtest/gtest.h>

#include <functional>

#include "BuildConfig.h"
#include "TunnelHarness.h"

namespace umbrane {
namespace {

using namespace fakes;

TEST_F(Tunnel, TwoAutomaticReconnectsThenTheQuestion) {
  main.OnCommand(kCmdUmbrane1);
  calls.calls.clear();
  Fail();
  EXPECT_EQ(calls.calls,
            (Texts{"Report Can not connect to internet", "TerminateAgent", "Report Try again"}));
  EXPECT_EQ(Log(), (Texts{"Can not connect to internet", "Try again"}));
  EXPECT_EQ(RetriesLeft(), 2);
  EXPECT_TRUE(agents.started[0]->terminated);
  EXPECT_TRUE(agents.started[0]->released);
  EXPECT_FALSE(timers.Running(TimerId::Read));
  EXPECT_EQ(timers.Interval(TimerId::Reset), 10000u);

  Tick(9000);
  EXPECT_EQ(agents.started.size(), 1u);
  Tick();
  ASSERT_EQ(agents.started.size(), 2u) << "reconnect after 10 seconds";
  Fail();
  EXPECT_EQ(RetriesLeft(), 1);
  EXPECT_TRUE(dialogs.boxes.empty());
  Tick(10000);
  Fail();
  EXPECT_TRUE(dialogs.Answer(MessageAnswer::No));
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].kind, MessageKind::Warning);
  EXPECT_EQ(dialogs.boxes[0].buttons, MessageButtons::YesNo);
  EXPECT_EQ(RetriesLeft(), 3) << "No resets the budget";
  EXPECT_FALSE(timers.Running(TimerId::Reset));
  EXPECT_EQ(Tip(), "Umbrane OFF");
  EXPECT_TRUE(menu.Enabled(kCmdUmbrane1));
  Tick(60000);
  EXPECT_EQ(agents.started.size(), 3u) << "no further attempt";
}

// A relay that did not prove itself: logged with the agent's reason, and
// the user told, once per connect of theirs, that the connection may be
// intercepted. Refused credentials are not that.
TEST_F(Tunnel, ARelayNotVerifiedIsToldAsAPossibleInterceptionOncePerConnect) {
  const std::string notVerified =
      "160244 the relay could not be verified: the relay's key is not the pinned one\r\n";
  const struct {
    bool usersConnect;  // else the automatic reconnect
    std::string says;
    std::size_t boxes;  // told so far
  } attempts[] = {
      {true, notVerified, 1},
      {false, notVerified, 1},  // the reconnect: not again
      {true, "160244 the relay refused the credentials\r\n", 1},
      {true, notVerified, 2},
  };
  for (const auto& attempt : attempts) {
    if (attempt.usersConnect) {
      main.OnCommand(kCmdUmbrane1);
    } else {
      Tick(10000);
    }
    Retries(3);  // no question in between
    Agent().Print("160036 a\r\n160032 b\r\n" + attempt.says + "160033 given up\r\n");
    Tick();
    ASSERT_EQ(dialogs.boxes.size(), attempt.boxes) << attempt.says;
    EXPECT_EQ(dialogs.boxes.back().kind, MessageKind::Error);
    EXPECT_NE(dialogs.boxes.back().text.find("may be intercepted"), std::string::npos);
  }
  const auto log = Log();
  const auto told =
      std::find(log.begin(), log.end(),
                "the relay could not be verified: the relay's key is not the pinned one");
  ASSERT_NE(told, log.end());
  EXPECT_EQ(*(told - 1), "Identify failed");
  EXPECT_EQ(*(told + 1), "Can not connect to internet") << "then the usual failure";
}

TEST_F(Tunnel, AfterYesEveryFailureAsksAndTheReconnectWaitsThirtySeconds) {
  Retries(1);
  main.OnCommand(kCmdUmbrane1);
  Fail();
  EXPECT_TRUE(dialogs.Answer(MessageAnswer::Yes));
  EXPECT_EQ(Log().back(), "Try to connect to Internet");
  EXPECT_EQ(RetriesLeft(), 0);
  EXPECT_EQ(timers.Interval(TimerId::Reset), 30000u);
  Tick(29000);
  EXPECT_EQ(agents.started.size(), 1u);
  Tick();
  ASSERT_EQ(agents.started.size(), 2u);
  Fail();
  EXPECT_EQ(dialogs.boxes.size(), 2u) << "asks at once";
}

TEST_F(Tunnel, FailureAfterAnEarlierSuccessCountsAndNoPutsTheBrowsersBack) {
  ConnectAndGoOn();
  Retries(1);
  calls.calls.clear();
  Fail();
  EXPECT_TRUE(dialogs.Answer(MessageAnswer::No));
  EXPECT_EQ(calls.calls.back(), "ReleasePort") << "off means off";
  EXPECT_EQ(calls.calls.end()[-2], "SetBrowsersProxy off [][][]") << "the port goes only after";
  EXPECT_FALSE(Marker());
}

TEST_F(Tunnel, BrowsersStayOnTheProxyWhileAReconnectIsPending) {
  ConnectAndGoOn();
  calls.calls.clear();
  Fail();
  Tick(10000);
  EXPECT_EQ(std::count(calls.calls.begin(), calls.calls.end(), "SetBrowsersProxy off [][][]"), 0);
  EXPECT_TRUE(Marker());
}

TEST_F(Tunnel, DeathWhileOnReconnectsAfterFiveSecondsKeepingTheBrowsers) {
  ConnectAndGoOn();
  Agent().Print("160036 unread\r\n");
  Agent().Exit(1);
  calls.calls.clear();
  Tick();
  EXPECT_EQ(calls.calls,
            (Texts{"Report Wardden stopped on exception", "Status Warden stopped on excepton"}))
      << "no terminate for an agent that ended, and the browsers stay";
  EXPECT_EQ(Tip(), "Umbrane OFF");
  EXPECT_TRUE(agents.started[0]->released);
  EXPECT_FALSE(agents.started[0]->terminated);
  EXPECT_EQ(timers.Interval(TimerId::Reset), 5000u);
  EXPECT_EQ(std::count(calls.calls.begin(), calls.calls.end(), "SetBrowsersProxy off [][][]"), 0);
  Tick(5000);
  EXPECT_EQ(agents.started.size(), 2u);
}

TEST_F(Tunnel, RelayLostAndBackThenTheAgentKilledStillReconnects) {
  ConnectAndGoOn();
  calls.calls.clear();
  // What the agent prints when its relay goes away and answers again.
  Agent().Print("160037 lost the relay\r\n160138 the relay answers again\r\n");
  Tick();
  EXPECT_EQ(calls.calls,
            (Texts{"Report Disconnected from Internet", "Status Disconnected from Internet",
                   "Report Umbrane ON", "Status Umbrane ON"}))
      << "busy while lost; back, with every setting still the program's: no switch again";
  Agent().Exit(9);
  Tick();
  EXPECT_EQ(Log().back(), "Wardden stopped on exception") << "the death is noticed";
  Tick(5000);
  EXPECT_EQ(agents.started.size(), 2u) << "and a reconnect follows";
}

TEST_F(Tunnel, StopEndsTheAgentRestoresTheBrowsersAndCancelsAPendingReconnect) {
  ConnectAndGoOn();
  calls.calls.clear();
  main.OnCommand(kCmdStopUmbrane1);
  EXPECT_EQ(calls.calls, (Texts{"TerminateAgent", "SetBrowsersProxy off [][][]", "ReleasePort",
                                "Status User stopped Umbrane", "Report User stopped Umbrane"}));
  EXPECT_EQ(Tip(), "Umbrane OFF");
  EXPECT_FALSE(Marker());

  main.OnCommand(kCmdUmbrane1);
  Fail();  // a reconnect is now pending
  main.OnCommand(kCmdStopUmbrane1);
  Tick(60000);
  EXPECT_EQ(agents.started.size(), 2u) << "no reconnect after a stop";
}

TEST_F(Tunnel, ConnectWhileAnAgentRunsEndsTheFirstOne) {
  main.OnCommand(kCmdUmbrane1);
  main.OnCommand(kCmdUmbrane1);
  ASSERT_EQ(agents.started.size(), 2u);
  EXPECT_TRUE(agents.started[0]->terminated);
  EXPECT_TRUE(agents.started[0]->released);
  EXPECT_FALSE(agents.started[1]->terminated);
}

TEST_F(Tunnel, SweepReleasesOnlyAnAgentThatNoLongerRuns) {
  main.OnCommand(kCmdUmbrane1);
  Agent().Exit(2);
  main.Sweep();
  EXPECT_TRUE(agents.started[0]->released);
  EXPECT_FALSE(agents.started[0]->terminated);
  EXPECT_TRUE(dialogs.boxes.empty());

  main.OnCommand(kCmdUmbrane1);
  Agent().terminateFails = true;
  main.Sweep();
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, "Can not close Umbrane Warden!");
  EXPECT_FALSE(Agent().released) << "a running agent is never let go";
  main.OnCommand(kCmdUmbrane1);
  EXPECT_EQ(agents.started.size(), 2u) << "no second agent beside one that runs on";
  Agent().terminateFails = false;

  Agent().exitCode.reset();  // its state cannot be asked
  main.Sweep();
  EXPECT_TRUE(Agent().terminated) << "ended before its handles go";
  EXPECT_TRUE(Agent().released);
  EXPECT_FALSE(main.AgentRunning());
}

TEST_F(Tunnel, UpdateErrorShowsOffWhileTheAgentRunsOn) {
  main.OnCommand(kCmdUmbrane1);
  Agent().Print("160243\r\n");
  Tick();
  EXPECT_EQ(Log(), Texts{"Silent Update Error"});
  ASSERT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(dialogs.boxes[0].text, "SilentUpdate Error");
  EXPECT_EQ(tray.Named("Modify").back().record.infoFlags, 3u);
  EXPECT_EQ(Tip(), "Umbrane OFF");
  EXPECT_TRUE(timers.Running(TimerId::Read));
  Agent().Print("160138\r\n");
  Tick();
  EXPECT_EQ(Tip(), "Umbrane ON");
}

TEST_F(Tunnel, ReconnectThatFindsNoAgentFileTurnsTheBrowsersBack) {
  ConnectAndGoOn();
  Agent().Exit(1);
  Tick();
  files.RemoveFile(std::string(kAppPath) + "warden.exe");
  calls.calls.clear();
  Tick(5000);
  EXPECT_EQ(calls.calls, (Texts{"MessageBox Can not find Wardan", "SetBrowsersProxy off [][][]",
                                "ReleasePort"}));
}

TEST_F(Tunnel, ExitRestoresLogsAndThenEndsTheAgent) {
  ConnectAndGoOn();
  calls.calls.clear();
  main.FormClose();
  EXPECT_EQ(calls.calls, (Texts{"SetBrowsersProxy off [][][]", "Report Closing...",
                                "TerminateAgent", "ReleasePort"}));
  EXPECT_TRUE(agents.started[0]->terminated);
  EXPECT_FALSE(Marker());
}

// A saved state that cannot be read gives nothing back: the user is told
// in a warning box, and no "restored" is logged.
TEST_F(Tunnel, SavedStateLeftByADeadRunRestoresTheBrowsersAtStart) {
  ConnectAndGoOn();  // this run "dies" with the browsers on the proxy
  ASSERT_TRUE(Marker());
  const std::string unreadable = "The browsers' settings saved before the tunnel can not be read";
  for (const bool readable : {false, true}) {
    browsers.saved = true;
    browsers.restoreOutcome.unreadableState = readable ? "" : unreadable;
    Globals next;
    TfrmMain second(ports, browsers, next);
    calls.calls.clear();
    dialogs.boxes.clear();
    second.InitRun();
    logSkip = 0;  // a new run, a new log
    EXPECT_EQ(calls.calls.front(), "SetBrowsersProxy off [][][]");
    EXPECT_FALSE(Marker());
    ASSERT_FALSE(Log().empty());
    const bool told = !dialogs.boxes.empty() && dialogs.boxes[0].text == unreadable &&
                      dialogs.boxes[0].kind == MessageKind::Warning;
    EXPECT_EQ(told, !readable);
    EXPECT_EQ(Log().front() == "Browsers restored: the previous run ended while they used Umbrane",
              readable);
  }
}

// On means on: the tray says on only for what the apply read back, and a
// change made outside the program while on is told, never written over.
TEST_F(Tunnel, OnOnlyForWhatTheSystemTookAndAChangeOutsideTurnsItOff) {
  const auto balloonIcon = [this] { return tray.Named("Modify").back().record.infoFlags; };
  browsers.outcome.kept = {"LAN"};  // a proxy fixed by policy
  ConnectAndGoOn();
  EXPECT_EQ(Log().back(), "LAN: the system kept its own proxy settings");
  EXPECT_EQ(Tip(), "Umbrane OFF");
  EXPECT_EQ(balloonIcon(), 3u);
  EXPECT_TRUE(agents.started.size() == 1 && !Agent().terminated) << "the agent runs on";

  browsers.outcome = {
      {}, {"Netscape"}, {}, {}, {}};  // the next ready tries again; user.js is locked
  calls.calls.clear();
  Agent().Print("160138 again\r\n");
  Tick();
  EXPECT_EQ(calls.calls,
            (Texts{kApplied, "Report Netscape: its proxy settings could not be written",
                   "Report Umbrane ON", "Status Umbrane ON"}));
  EXPECT_EQ(balloonIcon(), 2u);

  // Chrome follows an administrator's policy: told, not counted as switched.
  const std::string chrome = "Chrome does not use Umbrane: its proxy is set by policy (ProxyMode)";
  browsers.outcome = {{}, {}, {chrome}, {}, {}};
  calls.calls.clear();
  Agent().Print("160138 again\r\n");
  Tick();
  EXPECT_EQ(calls.calls, (Texts{kApplied, "Report " + chrome, "Report Umbrane ON",
                                "Status Umbrane ON. " + chrome}));
  EXPECT_EQ(Balloon(), "Umbrane ON. " + chrome);
  EXPECT_EQ(balloonIcon(), 2u);

  browsers.outcome = {};
  Agent().Print("160138 again\r\n");
  Tick();
  browsers.changedOutside = {"LAN"};  // another program sets the LAN's proxy
  calls.calls.clear();
  Tick(4000);
  EXPECT_EQ(calls.calls,
            (Texts{"Report Browsers no longer use Umbrane: LAN changed outside Umbrane",
                   "Status Browsers no longer use Umbrane"}))
      << "within 5 s, once, and nothing switched";
  EXPECT_EQ(Tip(), "Umbrane OFF");
  EXPECT_TRUE(menu.Enabled(kCmdUmbrane1) && menu.Enabled(kCmdStopUmbrane1));
  calls.calls.clear();
  Agent().Print("160138 again\r\n");
  Tick();
  EXPECT_EQ(calls.calls.front(), kApplied) << "a changed setting is switched again";
}

// The session as one state: from each state, each event does what it asks
// (the calls, in order) and leaves the session where the row says. Rows
// under "asking" run while the try-again question is open, as timers do.
TEST_F(Tunnel, EachStateAndEventGivesItsActionsAndNextState) {
  using S = Phase;
  const auto connect = [&] { main.OnCommand(kCmdUmbrane1); };
  const auto say = [&](const char* line) {
    return [this, line] {
      Agent().Print(std::string(line) + "\r\n");
      Tick();
    };
  };
  const auto on = [&] { ConnectAndGoOn(); };
  const auto ended = [&] {
    Agent().Exit(1);
    Tick();
  };
  const auto nothing = [] {};
  const Texts failed = {"Report Can not connect to internet", "TerminateAgent", "Report Try again"};
  // The port is held from a connect until off: no row between holds or
  // lets it go again, and no agent starts without it.
  const std::string taken =
      "Umbrane can not use 127.0.0.1:7070, where the browsers reach the tunnel: it is used by "
      "x.exe (process 7).";
  const struct {
    const char* name;
    std::function<void()> reach, event;
    Texts calls;
    Phase next;
  } rows[] = {
      {"off, connect", nothing, connect,
       Texts{"HoldPort 7070", "Status Connecting to Internet. Please wait...", "StartAgent"},
       S::Connecting},
      {"off, connect, the port taken",
       [&] { agents.portTakenBy = "it is used by x.exe (process 7)"; }, connect,
       Texts{"Report " + taken, "Status Umbrane OFF", "MessageBox " + taken}, S::Off},
      {"connecting, 160239", connect, say("160239"), Texts{"Report Connected to Internet"},
       S::Connected},
      {"connected, 160138", [&] { connect(), say("160239")(); }, say("160138"),
       Texts{kApplied, "Report Umbrane ON", "Status Umbrane ON"}, S::On},
      {"connecting, 160033", connect, say("160033"), failed, S::RetryWait},
      {"connecting, the agent ends", connect, ended,
       Texts{"Report Wardden stopped on exception", failed[0], failed[2]},  // nothing to end
       S::RetryWait},
      {"connecting, a minute of nothing", connect, [&] { Tick(60000); },
       Texts{"Report Connection time out", failed[0], failed[1], failed[2]}, S::RetryWait},
      {"on, 160037", on, say("160037"),
       Texts{"Report Disconnected from Internet", "Status Disconnected from Internet"},
       S::RelayLost},
      {"relay lost, 160138: nothing switched again", [&] { on(), say("160037")(); }, say("160138"),
       Texts{"Report Umbrane ON", "Status Umbrane ON"}, S::On},
      {"on, a setting changed outside", on,
       [&] {
         browsers.changedOutside = {"LAN"};
         Tick(2000);
       },
       Texts{"Report Browsers no longer use Umbrane: LAN changed outside Umbrane",
             "Status Browsers no longer use Umbrane"},
       S::ChangedOutside},
      {"on, the agent ends", on, ended,
       Texts{"Report Wardden stopped on exception", "Status Warden stopped on excepton"},
       S::DeathWait},
      {"on, 160243: only the display", on, say("160243"),
       Texts{"Report Silent Update Error", "MessageBox SilentUpdate Error",
             "Status SilentUpdate Error"},
       S::On},
      {"death wait, 5 s", [&] { on(), ended(); }, [&] { Tick(5000); },
       Texts{"Status Connecting to Internet. Please wait...", "StartAgent"}, S::Connecting},
      {"retry wait, 10 s", [&] { connect(), say("160033")(); }, [&] { Tick(10000); },
       Texts{"Status Connecting to Internet. Please wait...", "StartAgent"}, S::Connecting},
      {"retry wait, stop", [&] { connect(), say("160033")(); },
       [&] { main.OnCommand(kCmdStopUmbrane1); },
       Texts{"SetBrowsersProxy off [][][]", "ReleasePort", "Status User stopped Umbrane",
             "Report User stopped Umbrane"},
       S::Off},
      {"on, stop", on, [&] { main.OnCommand(kCmdStopUmbrane1); },
       Texts{"TerminateAgent", "SetBrowsersProxy off [][][]", "ReleasePort",
             "Status User stopped Umbrane", "Report User stopped Umbrane"},
       S::Off},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    main.OnCommand(kCmdStopUmbrane1);
    agents.portTakenBy.clear();
    Retries(3);
    row.reach();
    calls.calls.clear();
    row.event();
    EXPECT_EQ(calls.calls, row.calls);
    EXPECT_EQ(main.State(), row.next);
  }
}

// Nothing runs while the question waits for its answer: no reconnect, and
// the lines read with the failure wait too. The answer decides, and then
// they are acted on, in the order they came.
TEST_F(Tunnel, NothingMovesUnderTheQuestionAndTheAnswerDecides) {
  for (const auto answer : {MessageAnswer::No, MessageAnswer::Yes}) {
    SCOPED_TRACE(answer == MessageAnswer::Yes ? "yes" : "no");
    main.OnCommand(kCmdStopUmbrane1);
    Retries(1);
    main.OnCommand(kCmdUmbrane1);
    logSkip += Log().size();
    const std::size_t agentsBefore = agents.started.size();
    Agent().Print("160033 relay unreachable\r\n160036 after\r\n");
    Tick();
    Tick(60000);
    EXPECT_EQ(main.State(), Phase::Asking);
    EXPECT_EQ(agents.started.size(), agentsBefore) << "no reconnect under the question";
    EXPECT_EQ(Log(), (Texts{"Can not connect to internet", "Try again"}));
    EXPECT_TRUE(dialogs.Answer(answer));
    const bool yes = answer == MessageAnswer::Yes;
    Texts told = {"Can not connect to internet", "Try again", "Searching Internet"};
    if (yes) {
      told.insert(told.begin() + 2, "Try to connect to Internet");
    }
    EXPECT_EQ(Log(), told);
    EXPECT_EQ(main.State(), yes ? Phase::RetryWait : Phase::Off);
    Tick(30000);
    EXPECT_EQ(agents.started.size(), agentsBefore + (yes ? 1 : 0));
    logSkip += Log().size();
  }
}

}  // namespace
}  // namespace umbrane
