// The agent started, polled and read on a virtual clock: its command line,
// its output split across reads and bursts, its end.
#include <gtest/gtest.h>

#include <functional>

#include "BuildConfig.h"
#include "TunnelHarness.h"

namespace umbrane {
namespace {

using namespace fakes;

TEST_F(Tunnel, ConnectStartsTheAgentWithItsCommandLineAndPollsEverySecond) {
  main.OnCommand(kCmdUmbrane1);
  ASSERT_EQ(agents.started.size(), 1u);
  EXPECT_EQ(Agent().commandLine,
            std::string("warden -name publicuser -key umbrane-public -do -H 7070 -umbrane -port 80 "
                        "-say ") +
                build::kRelayAddress);
  EXPECT_EQ(g.AgentCommand, Agent().commandLine);
  EXPECT_EQ(agents.programs.back(), std::string(kAppPath) + "warden.exe")
      << "by its full path: never one the search order finds first";
  EXPECT_EQ(Tip(), "Connecting to Internet. Please wait...");
  EXPECT_FALSE(menu.Enabled(kCmdUmbrane1));
  EXPECT_TRUE(menu.Enabled(kCmdStopUmbrane1));
  EXPECT_TRUE(timers.Running(TimerId::Read));
  EXPECT_EQ(timers.Interval(TimerId::Read), TfrmMain::kReadInterval);
}

TEST_F(Tunnel, MissingAgentFileIsReportedAndNothingStarts) {
  files = FakeFileSystem();
  files.AddFolder(kData);
  main.OnCommand(kCmdUmbrane1);
  EXPECT_EQ(calls.calls, Texts{"MessageBox Can not find Wardan"});
  EXPECT_TRUE(agents.started.empty());
  EXPECT_FALSE(timers.Running(TimerId::Read));
}

TEST_F(Tunnel, AgentThatCannotBeCreatedRaisesTheStartError) {
  agents.failNext = true;
  main.Dispatch([this] { main.OnCommand(kCmdUmbrane1); });  // as the window dispatches it
  ASSERT_EQ(dialogs.errorBoxes.size(), 1u);
  EXPECT_EQ(dialogs.errorBoxes[0].second, "Error to start Umbrane Warden!");
  EXPECT_FALSE(timers.Running(TimerId::Read));
  EXPECT_EQ(Tip(), "Connecting to Internet. Please wait...") << "busy stays";
  EXPECT_TRUE(menu.Enabled(kCmdStopUmbrane1));
}

TEST_F(Tunnel, EveryCodeIsLoggedInOrderWithinOneRead) {
  main.OnCommand(kCmdUmbrane1);
  Agent().Print(
      "160036 x\r\n160032\r\n160238\r\n160270\r\n160239\r\n110033\r\n171001\r\n160244\r\n"
      "160037\r\n160325 silent\r\n160129\r\n160246 (uid 1001)\r\n999999 what\r\n1601\r\n\r\n"
      "160246 refused a connection from a program the system does not name (x)\r\n");
  Tick();
  EXPECT_EQ(Log(), (Texts{"Searching Internet", "Connecting to Internet", "Identifying",
                          "Identifying", "Connected to Internet", "Connection time out",
                          "Mission failed", "Identify failed", "Disconnected from Internet",
                          "Refused a connection from another user's program", "999999", "1601", "",
                          "Refused a connection from a program the system does not name"}));
  EXPECT_EQ(g.LineIndex, 16);
}

TEST_F(Tunnel, ReadyCodeSwitchesTheBrowsersThenLogsAndShowsOn) {
  main.OnCommand(kCmdUmbrane1);
  calls.calls.clear();
  Agent().Print("160138\r\n");
  Tick();
  EXPECT_EQ(main.State(), Phase::On);
  EXPECT_EQ(calls.calls, (Texts{kApplied, "Report Umbrane ON", "Status Umbrane ON"}));
  EXPECT_EQ(Log().back(), "Umbrane ON");
  EXPECT_EQ(Tip(), "Umbrane ON");
  EXPECT_FALSE(menu.Enabled(kCmdUmbrane1));
  EXPECT_TRUE(Marker()) << "a crash now would leave a trace for the next start";
}

TEST_F(Tunnel, ReadyCodeSplitAcrossReadsIsStillActedOn) {
  main.OnCommand(kCmdUmbrane1);
  Agent().Print("1601");
  Tick();
  Agent().Print("38 ready\r");
  Tick();
  Agent().Print("\n160036\r\n");
  Tick();
  EXPECT_TRUE(g.AgentLines->Empty()) << "lines read are not kept";
  EXPECT_EQ(g.LineIndex, 2);
  EXPECT_EQ(Log(), (Texts{"Umbrane ON", "Searching Internet"}));
}

TEST_F(Tunnel, LastLineOfAnAgentThatEndedIsProcessedBeforeItsEndCounts) {
  main.OnCommand(kCmdUmbrane1);
  Agent().Print("171001 port taken");
  Tick();
  EXPECT_TRUE(Log().empty());
  Agent().Exit(3);
  Tick();
  EXPECT_EQ(Log(), (Texts{"Mission failed", "Wardden stopped on exception",
                          "Can not connect to internet", "Try again"}));
  EXPECT_FALSE(timers.Running(TimerId::Read));
}

// No session waits for ever: an agent that ends by itself while connecting
// (whatever an earlier session reached), or says nothing that moves its
// session on for a minute, has failed to connect, as after "160033".
TEST_F(Tunnel, AnAgentThatEndsOrFallsSilentWhileConnectingIsAFailedConnection) {
  const Texts ended = {"Wardden stopped on exception", "Can not connect to internet", "Try again"};
  const Texts silent = {"Connection time out", "Can not connect to internet", "Try again"};
  const struct {
    const char* name;
    std::function<void()> act;  // from the connect on, up to the failure
    Texts told;
  } cases[] = {
      {"ends at once", [&] { Agent().Exit(1); }, ended},
      {"ends after an earlier session was on",
       [&] {
         ConnectAndGoOn();
         main.OnCommand(kCmdStopUmbrane1);
         main.OnCommand(kCmdUmbrane1);
         logSkip += Log().size();
         Agent().Exit(1);
       },
       ended},
      {"says nothing for a minute", [&] { Tick(59000); }, silent},
      {"connected, then nothing for a minute",
       [&] {
         Tick(30000);
         Agent().Print("160239 accepted\r\n");
         Tick(59000);
         ASSERT_EQ(Log().back(), "Connected to Internet") << "the count starts again";
         logSkip += Log().size();
       },
       silent},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Retries(3);
    main.OnCommand(kCmdUmbrane1);
    logSkip += Log().size();
    c.act();
    Tick();
    const std::size_t started = agents.started.size();
    EXPECT_EQ(Log(), c.told);
    EXPECT_EQ(RetriesLeft(), 2);
    EXPECT_TRUE(Agent().released);
    EXPECT_EQ(timers.Interval(TimerId::Reset), 10000u);
    Tick(10000);
    EXPECT_EQ(agents.started.size(), started + 1) << "reconnected 10 s later";
    main.OnCommand(kCmdStopUmbrane1);
    logSkip += Log().size();
  }
  // Three early ends in a row spend the budget: the question.
  Retries(3);
  main.OnCommand(kCmdUmbrane1);
  for (int attempt = 0; attempt < 3; ++attempt) {
    Agent().Exit(1);
    Tick(11000);  // the failure at the next poll, the reconnect 10 s after it
  }
  EXPECT_TRUE(dialogs.Answer(MessageAnswer::No));
  EXPECT_EQ(dialogs.boxes.size(), 1u);
  EXPECT_EQ(Tip(), "Umbrane OFF");
}

TEST_F(Tunnel, ChattyAgentIsReadEmptyEachTickInBoundedChunks) {
  main.OnCommand(kCmdUmbrane1);
  std::string lots;
  for (int i = 0; i < 3000; ++i) {
    lots += "160325 keep-alive line of some length\r\n";  // silent code, about 120 KB
  }
  Agent().Print(lots + "160138 ready\r\n");
  Tick();
  EXPECT_TRUE(Agent().pipe.empty());
  EXPECT_LE(Agent().largestRead, 4096u);
  EXPECT_EQ(Log(), Texts{"Umbrane ON"});
}

TEST_F(Tunnel, ATickFollowsABurstWhileItLastsButNotWithoutEnd) {
  main.OnCommand(kCmdUmbrane1);
  Agent().Print("160036 a\r\n");
  Agent().later = {"160032 b\r\n", "160138 c\r\n"};  // written while the tick reads
  Tick();
  EXPECT_EQ(Log(), (Texts{"Searching Internet", "Connecting to Internet", "Umbrane ON"}));

  Agent().later.assign(1000, "160325 keep-alive\r\n");
  Agent().Print("160325\r\n");
  Tick();
  EXPECT_FALSE(Agent().later.empty()) << "an endless burst must not hold the tick";
  EXPECT_LT(Agent().later.size(), 1000u);
}

}  // namespace
}  // namespace umbrane
