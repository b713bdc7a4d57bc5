// The whole agent's relay connections: what it says when a relay fails,
// is lost or comes back, the relay's own network kept to itself, staying up
// through network changes and sleep, answers cut short, TLS that shows
// nothing and a relay that cannot prove itself, and a blocked relay passed
// for the next.
#include <gtest/gtest.h>

#include "AgentFixture.h"

namespace warden {
namespace {

TEST_F(Agent, AFailureThatStopsTheAgentPrintsItsCodeThen160033) {
  StartRelay();
  StartWarden("wrong");
  ASSERT_TRUE(warden->WaitForLine("160033"));
  EXPECT_EQ(Codes(*warden),
            (std::vector<std::string>{"160036", "160032", "160238", "160244", "160033"}));
  EXPECT_LT(Connect(localPort), 0) << "nothing listens";

  const int taken = Listener(localPort);
  ASSERT_GE(taken, 0);
  StartWarden();
  ASSERT_TRUE(warden->WaitForLine("160033"));
  const auto codes = Codes(*warden);
  ASSERT_GE(codes.size(), 2u);
  EXPECT_EQ(codes[codes.size() - 2], "171001") << "the port is taken";
  close(taken);
}

// The relay keeps its own network to itself (tools/relay/relay.sh, both
// kinds): its loopback, by address or by a name that resolves there, and
// its own address are refused; the stand-in site, named, is reached.
TEST_F(Agent, TheRelaysOwnNetworkIsRefusedAndOtherSitesReached) {
  for (const auto& [kind, hosts, site] :
       {std::tuple<std::string, std::string, std::string>{"tinyproxy", "", "localhost"},
        {"squid", RELAY_HOSTS, "www.umbrane.test"}}) {
    relayPort = FreePort();
    relay =
        std::make_unique<Relay>(relayPort, "publicuser", "s3cret", kind, hosts, "relay", "", site);
    ASSERT_TRUE(relay->Started()) << kind;
    StartWarden();
    ASSERT_TRUE(warden->WaitForLine("160138")) << kind << ": the check passes on a refusal";
    const auto reached = [&](const std::string& authority) {
      const int s = Connect(localPort);
      SendAll(s, "CONNECT " + authority + " HTTP/1.1\r\n\r\n");
      const bool ok = ReceiveHead(s).rfind("HTTP/1.1 200", 0) == 0;
      close(s);
      return ok;
    };
    const std::string port = ":" + std::to_string(target.Port());
    EXPECT_TRUE(reached(site + port)) << kind;
    for (const std::string& inside : {"127.0.0.1" + port, "inside.umbrane.test" + port,
                                      "127.0.0.1:" + std::to_string(relayPort)}) {
      EXPECT_FALSE(reached(inside)) << kind << " " << inside;
    }
    warden->Kill();
  }
}

TEST_F(Agent, NoRelayIs160033) {
  StartWarden();
  EXPECT_TRUE(warden->WaitForLine("160033"));
}

TEST_F(Agent, ARelayLostIs160037AndOneThatAnswersAgainIs160138Again) {
  StartRelay();
  StartWarden();
  ASSERT_TRUE(warden->WaitForLine("160138"));
  relay->Kill();
  ASSERT_TRUE(warden->WaitForLine("160037", 20));
  warden->lines.clear();
  StartRelay();
  EXPECT_TRUE(warden->WaitForLine("160138", 25)) << "ready again, so Umbrane switches back";
  EXPECT_EQ(Codes(*warden), std::vector<std::string>{"160138"});
}

// A change of network under a running agent: every connection between it
// and its relay goes silent (nothing closes, nothing answers), or is reset.
// The first page after it loads whole: the connections kept ready are
// outrun or replaced, not waited for.
TEST_F(Agent, APageLoadsWholeAfterEveryRelayConnectionGoesSilentOrIsReset) {
  StartRelay();
  for (const bool silence : {true, false}) {
    wardenRelayPort = FreePort();
    Forwarder network(wardenRelayPort, relayPort);
    StartWarden();
    ASSERT_TRUE(warden->WaitForLine("160138"));
    std::this_thread::sleep_for(std::chrono::seconds(1));  // the ready connections are open
    const auto before = LoadPage(localPort, target.Port(), 2);
    ASSERT_TRUE(std::all_of(before.begin(), before.end(), [](double t) { return t >= 0; }));
    silence ? network.Silence() : network.Reset();
    const auto after = LoadPage(localPort, target.Port(), 6);
    EXPECT_EQ(std::count_if(after.begin(), after.end(), [](double t) { return t >= 0; }), 6)
        << (silence ? "silenced" : "reset") << ": -1 is a request left unanswered";
    // Only the old path was lost, not the relay.
    EXPECT_FALSE(warden->WaitForLine("160037", 1));
  }
}

// A machine that sleeps: the agent is frozen while the relay goes away and
// every old connection falls silent. Awake, it does not wait for a client
// or for its next look: it drops what it kept ready and tells at once that
// the relay is lost, then that it is back.
TEST_F(Agent, AwakeAfterASleepItChecksTheRelayAtOnce) {
  StartRelay();
  wardenRelayPort = FreePort();
  Forwarder network(wardenRelayPort, relayPort);
  StartWarden();
  ASSERT_TRUE(warden->WaitForLine("160138"));
  std::this_thread::sleep_for(std::chrono::seconds(1));
  kill(warden->Pid(), SIGSTOP);
  network.Silence();
  relay->Kill();
  std::this_thread::sleep_for(std::chrono::seconds(5));
  kill(warden->Pid(), SIGCONT);
  EXPECT_TRUE(warden->WaitForLine("160037", 3)) << "the relay's loss told within 2 s of waking";
  warden->lines.clear();
  StartRelay();
  EXPECT_TRUE(warden->WaitForLine("160138", 15));
}

// An answer the relay's connection ends without TLS's close_notify (cut on
// the way) may be cut short: the client gets a reset, never the clean end
// that passes half a page for a whole one. One the relay ends properly
// still ends cleanly. Over CONNECT and over a plain request alike.
TEST_F(Agent, AnAnswerCutShortOnTheWayEndsTheClientsConnectionWithAReset) {
  LoopbackServer site([](int c) {
    const bool whole = ReceiveHead(c).find("/whole") != std::string::npos;
    SendAll(c, "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nConnection: close\r\n\r\nhello");
    if (whole) {
      SendAll(c, "world");
      return;
    }
    char byte;
    (void)recv(c, &byte, 1, 0);  // the rest never comes
  });
  StartRelay();
  wardenRelayPort = FreePort();
  Forwarder network(wardenRelayPort, relayPort);
  StartWarden();
  ASSERT_TRUE(warden->WaitForLine("160138"));
  const std::string authority = "127.0.0.1:" + std::to_string(site.Port());
  for (const bool tunnel : {true, false}) {
    for (const bool cut : {false, true}) {
      const std::string label = std::string(tunnel ? "CONNECT" : "GET") + (cut ? " cut" : " whole");
      const std::string path = cut ? "/half" : "/whole";
      const int s = Connect(localPort);
      if (tunnel) {
        SendAll(s, "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n");
        ASSERT_EQ(Receive(s, 39), "HTTP/1.1 200 Connection established\r\n\r\n") << label;
        SendAll(s, "GET " + path + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n");
      } else {
        SendAll(s,
                "GET http://" + authority + path + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n");
      }
      ASSERT_NE(ReceiveHead(s), "") << label;
      ASSERT_EQ(Receive(s, 5), "hello") << label;
      if (cut) {
        network.Cut();
      } else {
        EXPECT_EQ(Receive(s, 5), "world") << label;
      }
      char byte;
      errno = 0;
      const ssize_t got = recv(s, &byte, 1, 0);
      EXPECT_EQ(got, cut ? -1 : 0) << label;
      EXPECT_EQ(errno, cut ? ECONNRESET : 0) << label;
      close(s);
    }
  }
}

// What an onlooker between agent and relay sees: TLS records from the first
// byte, and nothing of the credentials, the destinations or the pages.
TEST_F(Agent, NothingReadableTravelsBetweenAgentAndRelay) {
  const std::string wire = ::testing::TempDir() + "warden-wire.bin";
  StartRelay("tinyproxy", wire);
  StartWarden();
  ASSERT_TRUE(warden->WaitForLine("160138"));
  const std::string site = "127.0.0.1:" + std::to_string(target.Port());
  int s = Connect(localPort);
  SendAll(s, "GET http://" + site + "/secret-path HTTP/1.0\r\nHost: " + site + "\r\n\r\n");
  EXPECT_NE(ReceiveAll(s).find("hello"), std::string::npos);
  close(s);
  s = Connect(localPort);
  ASSERT_EQ(Socks5(s, "localhost", target.Port()), 0);
  SendAll(s, "private words");
  EXPECT_EQ(Receive(s, 13), "private words");
  close(s);

  std::ifstream file(wire, std::ios::binary);
  const std::string seen((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen[0], '\x16') << "a TLS handshake comes first";
  for (const std::string& secret :
       {std::string("CONNECT"), std::string("s3cret"), Base64("publicuser:s3cret"),
        std::string("publicuser"), std::string("secret-path"), std::string("hello"),
        std::string("private words"), site}) {
    EXPECT_EQ(seen.find(secret), std::string::npos) << secret << " in clear on the wire";
  }
}

// A relay that cannot prove itself gets nothing: no credentials check, no
// client's request; the agent says why and gives up as on any failure. The
// pinned agent (as a release is built) knows the relay by its keys alone,
// the one in use or the backup: a self-signed certificate with a pinned key
// will do, the right names from a trusted authority with another key never.
TEST_F(Agent, ARelayThatCannotProveItselfGetsNothing) {
  const struct {
    const char* program;
    const char* certificate;
    bool accepted;
  } cases[] = {
      {WARDEN_EXE, "relay", true},         {WARDEN_EXE, "self", false},
      {WARDEN_EXE, "elsewhere", false},    {WARDEN_PINNED_EXE, "self", true},  // the key in use
      {WARDEN_PINNED_EXE, "relay", true},                                      // the backup key
      {WARDEN_PINNED_EXE, "other", false},  // the right names, from the trusted authority
  };
  for (const auto& c : cases) {
    relayPort = FreePort();
    RecordingRelay fake(relayPort, c.certificate);
    ASSERT_TRUE(fake.Started());
    StartWarden("s3cret", 0, c.program);
    const std::string label = std::string(c.program) + " with " + c.certificate;
    if (c.accepted) {
      EXPECT_TRUE(warden->WaitForLine("160138")) << label;
      EXPECT_EQ(fake.Checks(), 1) << label;
      continue;
    }
    ASSERT_TRUE(warden->WaitForLine("160033")) << label;
    EXPECT_EQ(Codes(*warden), (std::vector<std::string>{"160036", "160032", "160244", "160033"}))
        << label;
    EXPECT_EQ(fake.Checks(), 0) << label;
    EXPECT_EQ(fake.Heads(), "") << label;
  }
}

// Another key turns up on the way to the relay while the agent runs (a
// network that starts to intercept): it gets nothing of ours, and the agent
// says why, once, so that Umbrane can tell the user.
TEST_F(Agent, AKeyThatTurnsUpUnderARunningAgentGetsNothingAndIsTold) {
  auto pinned = std::make_unique<RecordingRelay>(relayPort, "self");
  ASSERT_TRUE(pinned->Started());
  StartWarden("s3cret", 0, WARDEN_PINNED_EXE);
  ASSERT_TRUE(warden->WaitForLine("160138"));
  pinned.reset();
  RecordingRelay other(relayPort, "other");
  ASSERT_TRUE(other.Started());
  for (int i = 0; i < 3; ++i) {  // a failed client probes at once
    const int s = Connect(localPort);
    EXPECT_NE(Socks5(s, "localhost", target.Port()), 0);
    close(s);
  }
  EXPECT_TRUE(warden->WaitForLine("160244", 10)) << testing::PrintToString(warden->lines);
  const auto lines = warden->lines;
  EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                          [](const std::string& l) {
                            return l.rfind("160244 the relay could not be verified: ", 0) == 0;
                          }),
            1);
  EXPECT_EQ(other.Checks(), 0);
  EXPECT_EQ(other.Heads(), "");
}

// Two relays, the first blocked as censors block one: a black hole, resets,
// or another key in the relay's place; at start or under a running agent. A
// page of 6 loads whole through the second within 5 s of a black hole and
// 1.5 s of the others, and only another key is called an interception.
// While the first works, the second is never contacted.
TEST_F(Agent, ABlockedRelayCostsSecondsThePageLoadsWholeThroughTheNext) {
  const struct {
    const char* label;
    bool running;
    const char* block;  // "silence", "reset" or "key"
    double within;
  } cases[] = {
      {"black hole at start", false, "silence", 5.0}, {"resets at start", false, "reset", 1.5},
      {"another key at start", false, "key", 1.5},    {"black hole while on", true, "silence", 5.0},
      {"resets while on", true, "reset", 1.5},
  };
  StartRelay();
  for (const auto& c : cases) {
    const std::string block = c.block;
    Forwarder firstWay(wardenRelayPort = FreePort(), relayPort);
    const std::uint16_t second = FreePort();
    Forwarder secondWay(second, relayPort);
    std::unique_ptr<RecordingRelay> impostor;
    if (block == "key") {  // a relay with the right address and another key
      impostor = std::make_unique<RecordingRelay>(wardenRelayPort = FreePort(), "self");
    }
    const std::string folder = UseRelays("127.0.0.1:" + std::to_string(wardenRelayPort) +
                                         "\n127.0.0.1:" + std::to_string(second) + "\n");
    std::remove((folder + "/relay-in-use.txt").c_str());
    if (!c.running) {
      firstWay.Block(block == "silence");
    }
    const auto start = Clock::now();
    StartWarden();
    ASSERT_TRUE(warden->WaitForLine("160138", 20)) << c.label;
    if (c.running) {
      const auto before = LoadPage(localPort, target.Port(), 6);
      ASSERT_EQ(std::count_if(before.begin(), before.end(), [](double t) { return t >= 0; }), 6);
      std::this_thread::sleep_for(std::chrono::seconds(1));  // the ready connections are open
      EXPECT_TRUE(secondWay.Opened().empty()) << c.label << ": the first relay works";
      firstWay.Block(block == "silence");
    }
    const auto blocked = c.running ? Clock::now() : start;
    const auto page = LoadPage(localPort, target.Port(), 6);
    EXPECT_EQ(std::count_if(page.begin(), page.end(), [](double t) { return t >= 0; }), 6)
        << c.label;
    EXPECT_LT(std::chrono::duration<double>(Clock::now() - blocked).count(), c.within) << c.label;
    EXPECT_FALSE(secondWay.Opened().empty()) << c.label;
    const auto codes = Codes(*warden);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), "160244"), block == "key")
        << c.label << ": " << testing::PrintToString(warden->lines);
    EXPECT_EQ(std::count(codes.begin(), codes.end(), "160037"), 0) << c.label;
    std::ifstream inUse(folder + "/relay-in-use.txt");
    std::string kept;
    inUse >> kept;
    EXPECT_EQ(kept, "127.0.0.1:" + std::to_string(second)) << c.label << ": first next time";
    warden->Kill();
  }
}

}  // namespace
}  // namespace warden
