// The whole agent on this machine: a real relay (tinyproxy with Basic
// authentication, behind TLS with the tests' own certificates) on the
// loopback, a target server, and clients speaking each local protocol.
// Every wait is bounded.
#include <gtest/gtest.h>

#include "Loopback.h"
#include "Relay.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace warden {
namespace {

using namespace loopback;

// Answers "GET" with a small HTTP response; echoes anything else back until
// the client half-closes (the server then closes).
void ServeTarget(int c) {
  char buffer[4096];
  std::string seen;
  ssize_t n;
  while ((n = recv(c, buffer, sizeof buffer, 0)) > 0) {
    seen.append(buffer, static_cast<std::size_t>(n));
    if (seen.rfind("GET ", 0) == 0) {
      if (seen.find("\r\n\r\n") != std::string::npos) {
        SendAll(c, kPage);
        return;
      }
      continue;
    }
    SendAll(c, std::string(buffer, static_cast<std::size_t>(n)));
  }
}

class Agent : public ::testing::Test {
 protected:
  std::uint16_t relayPort = FreePort();
  std::uint16_t localPort = FreePort();
  LoopbackServer target{ServeTarget};
  std::unique_ptr<Relay> relay;
  std::unique_ptr<Child> warden;
  std::uint16_t wardenRelayPort = 0;  // where the agent finds its relay: relayPort when 0

  Agent() { TrustTestAuthority(); }
  ~Agent() override {
    if (!folder_.empty()) {
      unsetenv("WARDEN_FOLDER");
      (void)std::system(("rm -rf '" + folder_ + "'").c_str());
    }
  }
  // The agents started from now on read their relays' list (and keep the
  // one found good) in a folder of this test's own.
  std::string UseRelays(const std::string& list) {
    if (folder_.empty()) {
      char name[] = "/tmp/warden-folder-XXXXXX";
      folder_ = mkdtemp(name);
      setenv("WARDEN_FOLDER", folder_.c_str(), 1);
    }
    std::ofstream(folder_ + "/relays.txt") << list;
    return folder_;
  }
  void StartRelay(const std::string& kind = "tinyproxy", const std::string& record = "") {
    relay = std::make_unique<Relay>(relayPort, "publicuser", "s3cret", kind, "", "relay", record);
    ASSERT_TRUE(relay->Started()) << kind;
  }
  // `limit`: the agent's descriptor limit (0: as the test's own).
  void StartWarden(const std::string& token = "s3cret", int limit = 0,
                   const std::string& program = WARDEN_EXE) {
    std::vector<std::string> argv = {program,
                                     "-name",
                                     "publicuser",
                                     "-key",
                                     token,
                                     "-do",
                                     "-H",
                                     std::to_string(localPort),
                                     "-umbrane",
                                     "-port",
                                     std::to_string(wardenRelayPort ? wardenRelayPort : relayPort),
                                     "-say",
                                     "127.0.0.1"};
    if (limit > 0) {
      argv.insert(argv.begin(), {"prlimit", "--nofile=" + std::to_string(limit), "--"});
    }
    warden = std::make_unique<Child>(argv);
  }
  // A SOCKS5 request for `name`:`port`; the reply's status byte (-1: none).
  int Socks5(int s, const std::string& name, std::uint16_t port) {
    SendAll(s, std::string("\x05\x01\x00", 3));
    if (Receive(s, 2) != std::string("\x05\x00", 2)) {
      return -1;
    }
    SendAll(s, std::string("\x05\x01\x00\x03", 4) + char(name.size()) + name + Port(port));
    const std::string reply = Receive(s, 10);
    return reply.size() == 10 ? static_cast<unsigned char>(reply[1]) : -1;
  }
  std::string Port(std::uint16_t p) { return std::string{char(p >> 8), char(p & 0xFF)}; }

 private:
  std::string folder_;
};

TEST_F(Agent, EveryLocalProtocolReachesTheTargetThroughTheRelay) {
  StartRelay();
  StartWarden();
  ASSERT_TRUE(warden->WaitForLine("160138"));
  EXPECT_EQ(warden->lines[0].substr(0, 6), "160036");
  EXPECT_EQ(warden->lines[1].substr(0, 6), "160032");
  EXPECT_EQ(warden->lines[2].substr(0, 6), "160238");
  EXPECT_EQ(warden->lines[3].substr(0, 6), "160239");
  const std::string p = Port(target.Port());

  int s = Connect(localPort);  // SOCKS4 with an address
  SendAll(s, std::string("\x04\x01", 2) + p + std::string("\x7F\x00\x00\x01", 4) + "u" + '\0');
  EXPECT_EQ(Receive(s, 8), std::string("\x00\x5A\x00\x00\x00\x00\x00\x00", 8));
  SendAll(s, "socks4");
  EXPECT_EQ(Receive(s, 6), "socks4");
  close(s);

  s = Connect(localPort);  // SOCKS4a with a name
  SendAll(s, std::string("\x04\x01", 2) + p + std::string("\x00\x00\x00\x01", 4) + '\0' +
                 "localhost" + '\0');
  EXPECT_EQ(Receive(s, 8).substr(0, 2), std::string("\x00\x5A", 2));
  SendAll(s, "socks4a");
  EXPECT_EQ(Receive(s, 7), "socks4a");
  close(s);

  s = Connect(localPort);  // SOCKS5 with a name
  SendAll(s, std::string("\x05\x01\x00", 3));
  EXPECT_EQ(Receive(s, 2), std::string("\x05\x00", 2));
  SendAll(s, std::string("\x05\x01\x00\x03\x09", 5) + "localhost" + p);
  EXPECT_EQ(Receive(s, 10).substr(0, 2), std::string("\x05\x00", 2));
  SendAll(s, "socks5");
  EXPECT_EQ(Receive(s, 6), "socks5");
  close(s);

  // SOCKS5 with an IPv6 address, to a server on [::1].
  const int v6 = Listener6();
  ASSERT_GE(v6, 0);
  const std::uint16_t port6 = htons(BoundPort(v6));
  s = Connect(localPort);
  SendAll(s, std::string("\x05\x01\x00", 3));
  EXPECT_EQ(Receive(s, 2), std::string("\x05\x00", 2));
  SendAll(s, std::string("\x05\x01\x00\x04", 4) + std::string(15, '\0') + '\x01' +
                 std::string(reinterpret_cast<const char*>(&port6), 2));
  EXPECT_EQ(Receive(s, 10).substr(0, 2), std::string("\x05\x00", 2));
  const int accepted = Accept(v6);
  SendAll(s, "socks5-v6");
  EXPECT_EQ(Receive(accepted, 9), "socks5-v6") << "arrived at [::1] through the relay";
  close(accepted);
  close(v6);
  close(s);

  s = Connect(localPort);  // HTTP CONNECT
  SendAll(s, "CONNECT 127.0.0.1:" + std::to_string(target.Port()) + " HTTP/1.1\r\n\r\n");
  EXPECT_EQ(Receive(s, 39), "HTTP/1.1 200 Connection established\r\n\r\n");
  SendAll(s, "connect");
  EXPECT_EQ(Receive(s, 7), "connect");
  close(s);

  s = Connect(localPort);  // an absolute-URI request, passed on with credentials
  SendAll(s, "GET http://127.0.0.1:" + std::to_string(target.Port()) +
                 "/ HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
  const std::string page = ReceiveAll(s);
  EXPECT_EQ(page.rfind("HTTP/1.0 200 OK", 0), 0u) << page;
  EXPECT_NE(page.find("hello"), std::string::npos);
  close(s);
}

TEST_F(Agent, HalfCloseIsPassedOnAndAMalformedClientHarmsNoOther) {
  StartRelay();
  StartWarden();
  ASSERT_TRUE(warden->WaitForLine("160138"));
  const int good = Connect(localPort);
  SendAll(good, "CONNECT 127.0.0.1:" + std::to_string(target.Port()) + " HTTP/1.1\r\n\r\n");
  ASSERT_EQ(Receive(good, 39).size(), 39u);

  const int bad = Connect(localPort);
  SendAll(bad, std::string("\x05\x01\x02", 3));  // no method it can serve
  EXPECT_EQ(ReceiveAll(bad), std::string("\x05\xFF", 2));
  close(bad);

  SendAll(good, "last words");
  EXPECT_EQ(Receive(good, 10), "last words");
  // Our half-close travels on: the target sees the end and closes, and that
  // close comes back (the relay, tinyproxy, closes both ways at once).
  shutdown(good, SHUT_WR);
  EXPECT_TRUE(ClosedByPeer(good));
  close(good);
}

// The codes the agent printed, in their order.
std::vector<std::string> Codes(const Child& agent) {
  std::vector<std::string> codes;
  for (const auto& line : agent.lines) {
    codes.push_back(line.substr(0, 6));
  }
  return codes;
}

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

TEST_F(Agent, ListensAgainOnItsPortRightAfterHeavyUse) {
  StartRelay();
  StartWarden();
  ASSERT_TRUE(warden->WaitForLine("160138"));
  // The target answers and closes first, so the agent's side of each of
  // these connections closes first and lingers on the port.
  for (int i = 0; i < 200; ++i) {
    const int s = Connect(localPort);
    SendAll(s, "GET http://127.0.0.1:" + std::to_string(target.Port()) +
                   "/ HTTP/1.0\r\nHost: 127.0.0.1\r\n\r\n");
    EXPECT_FALSE(ReceiveAll(s).empty());
    close(s);
  }
  warden->Kill();
  StartWarden();
  EXPECT_TRUE(warden->WaitForLine("160138")) << "not 171001: the port is free to listen on";
}

// Answers every request of a kept-alive connection with its own method,
// target and body.
void ServeKeptAlive(int c) {
  for (std::string head; !(head = ReceiveHead(c)).empty();) {
    const std::string answer =
        head.substr(0, head.find(" HTTP/")) + " " + Receive(c, ContentLength(head));
    SendAll(c, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(answer.size()) + "\r\n\r\n" +
                   answer);
  }
}

class KeptAlive : public Agent, public ::testing::WithParamInterface<const char*> {};

// A browser's plain-HTTP requests on one kept-alive connection, naming two
// sites, one with a body: each gets its own answer, and the client's
// connection stays for all of them whatever the relay (each site's
// requests travel in a tunnel of their own). CONNECT goes to any port, a
// bracketed IPv6 address too.
TEST_P(KeptAlive, EveryRequestGetsItsOwnAnswerAndConnectReachesAnyPortAndIpv6) {
  StartRelay(GetParam());
  StartWarden();
  ASSERT_TRUE(warden->WaitForLine("160138"));
  LoopbackServer site(ServeKeptAlive);
  const std::string port = std::to_string(site.Port());
  const std::vector<std::pair<std::string, std::string>> requests = {
      {"GET http://127.0.0.1:" + port + "/one HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n", "GET /one "},
      {"POST http://localhost:" + port +
           "/two HTTP/1.1\r\nHost: localhost\r\n"
           "Content-Length: 5\r\n\r\nhello",
       "POST /two hello"},
      {"GET http://127.0.0.1:" + port + "/three HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n",
       "GET /three "}};
  int s = Connect(localPort);
  int connections = 1;
  for (const auto& [request, expected] : requests) {
    SendAll(s, request);
    std::string head = ReceiveHead(s);
    if (head.empty()) {  // closed by the relay after the last answer
      close(s);
      s = Connect(localPort);
      ++connections;
      SendAll(s, request);
      head = ReceiveHead(s);
    }
    EXPECT_EQ(head.rfind("HTTP/1.1 200", 0), 0u) << head;
    EXPECT_EQ(Receive(s, ContentLength(head)), expected);
  }
  close(s);
  EXPECT_EQ(connections, 1) << "the client's connection was kept";

  const int v6 = Listener6();
  ASSERT_GE(v6, 0);
  s = Connect(localPort);
  SendAll(s, "CONNECT [::1]:" + std::to_string(BoundPort(v6)) + " HTTP/1.1\r\n\r\n");
  EXPECT_EQ(Receive(s, 39), "HTTP/1.1 200 Connection established\r\n\r\n");
  const int accepted = Accept(v6);
  SendAll(s, "to v6");
  EXPECT_EQ(Receive(accepted, 5), "to v6");
  close(accepted);
  close(s);
  close(v6);
}

// A site that keeps what it is sent and answers its first request with
// `answer`, then keeps the connection open, reading on.
struct RecordingSite {
  explicit RecordingSite(std::string answer)
      : server([this, answer](int c) {
          bool answered = false;
          char buffer[4096];
          for (ssize_t n; (n = recv(c, buffer, sizeof buffer, 0)) > 0;) {
            std::lock_guard<std::mutex> lock(mutex);
            seen.append(buffer, static_cast<std::size_t>(n));
            if (!answered && seen.find("\r\n\r\n") != std::string::npos) {
              SendAll(c, answer);
              answered = true;
            }
          }
        }) {}
  std::string Seen() {
    std::lock_guard<std::mutex> lock(mutex);
    return seen;
  }
  std::mutex mutex;
  std::string seen;
  LoopbackServer server;
};

// Two sites: a client asks both on one kept-alive connection (the first
// answers chunked and keeps its connection open), then a real browser loads
// the first one's page, whose image is the second's. Whatever the relay does
// with the bytes after a request's head, each site gets only its own
// requests (the second its cookie), every answer comes back, and no site
// ever sees the relay's credentials.
TEST_P(KeptAlive, OneSiteNeverReceivesAnothersRequest) {
  StartRelay(GetParam());
  StartWarden();
  ASSERT_TRUE(warden->WaitForLine("160138"));
  RecordingSite b("HTTP/1.1 200 OK\r\nContent-Type: image/gif\r\nContent-Length: 1\r\n\r\nB");
  const std::string html =
      "<html><body>site A page<img src=\"http://127.0.0.1:" + std::to_string(b.server.Port()) +
      "/b.gif\"></body></html>";
  char size[16];
  std::snprintf(size, sizeof size, "%zx\r\n", html.size());
  const std::string body = size + html + "\r\n0\r\n\r\n";
  RecordingSite a(
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nTransfer-Encoding: chunked\r\n\r\n" + body);
  const std::string siteA = "127.0.0.1:" + std::to_string(a.server.Port());
  const int s = Connect(localPort);
  SendAll(s, "GET http://" + siteA + "/a HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: site=a\r\n\r\n");
  EXPECT_EQ(ReceiveHead(s).rfind("HTTP/1.1 200", 0), 0u);
  EXPECT_EQ(Receive(s, body.size()), body);
  SendAll(s, "GET http://127.0.0.1:" + std::to_string(b.server.Port()) +
                 "/b HTTP/1.1\r\nHost: 127.0.0.1\r\nCookie: site=b\r\n"
                 "Proxy-Connection: keep-alive\r\n\r\n");
  const std::string head = ReceiveHead(s);
  EXPECT_EQ(head.rfind("HTTP/1.1 200", 0), 0u) << head;
  EXPECT_EQ(Receive(s, ContentLength(head)), "B");
  close(s);
  EXPECT_NE(BrowseThrough(localPort, "http://" + siteA + "/page").find("site A page"),
            std::string::npos);

  EXPECT_EQ(a.Seen().rfind("GET /a HTTP/1.1\r\n", 0), 0u) << a.Seen();
  EXPECT_NE(a.Seen().find("GET /page HTTP/1.1\r\n"), std::string::npos) << a.Seen();
  for (const char* others : {"site=b", "/b"}) {
    EXPECT_EQ(a.Seen().find(others), std::string::npos) << a.Seen();
  }
  for (const char* own : {"GET /b HTTP/1.1\r\n", "site=b", "GET /b.gif HTTP/1.1\r\n"}) {
    EXPECT_NE(b.Seen().find(own), std::string::npos) << b.Seen();
  }
  for (const std::string& seen : {a.Seen(), b.Seen()}) {
    EXPECT_EQ(seen.find("Proxy-"), std::string::npos) << seen;
  }
}

INSTANTIATE_TEST_SUITE_P(Relays, KeptAlive, ::testing::Values("tinyproxy", "squid"));

// Waits up to `seconds` for `condition`, looking every 50 ms.
template <typename Condition>
bool Within(int seconds, Condition condition) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (Clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
}

TEST_F(Agent, SessionsEndedByBothSidesGiveTheirDescriptorsBackAtOnce) {
  StartRelay();
  StartWarden();
  ASSERT_TRUE(warden->WaitForLine("160138"));
  // The connections kept ready to the relay are all open by then.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const int before = OpenDescriptors(warden->Pid());
  for (int i = 0; i < 100; ++i) {
    const int s = Connect(localPort);
    ASSERT_EQ(Socks5(s, "localhost", target.Port()), 0);
    SendAll(s, "x");
    ASSERT_EQ(Receive(s, 1), "x");
    shutdown(s, SHUT_WR);  // the target then closes its side too
    EXPECT_TRUE(ClosedByPeer(s));
    close(s);
  }
  EXPECT_TRUE(Within(5, [&] { return OpenDescriptors(warden->Pid()) <= before; }))
      << OpenDescriptors(warden->Pid()) << " descriptors, " << before << " before";
}

// Clients that go away in the middle of their greeting (a reset after the
// first reply) give their place back at once: more of them than the agent
// serves at once, in quick succession, leave room for the next client.
TEST_F(Agent, ClientsGoneDuringTheirGreetingGiveTheirPlaceBackAtOnce) {
  StartRelay();
  StartWarden();
  ASSERT_TRUE(warden->WaitForLine("160138"));
  for (int i = 0; i < 2100; ++i) {
    const int c = Connect(localPort);
    SendAll(c, std::string("\x05\x01\x00", 3));
    ASSERT_EQ(Receive(c, 2), std::string("\x05\x00", 2)) << "client " << i;
    CloseWithReset(c);
  }
  const int s = Connect(localPort);
  EXPECT_EQ(Socks5(s, "localhost", target.Port()), 0);
  close(s);
}

TEST_F(Agent, UnderALowDescriptorLimitSilentClientsMakeRoomAndNothingSpins) {
  StartRelay();
  StartWarden("s3cret", 128);
  ASSERT_TRUE(warden->WaitForLine("160138"));
  std::vector<int> silent;
  for (int i = 0; i < 300; ++i) {
    silent.push_back(Connect(localPort));  // and never a byte
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const long ticks = CpuTicks(warden->Pid());
  std::this_thread::sleep_for(std::chrono::seconds(2));
  EXPECT_LT(CpuTicks(warden->Pid()) - ticks, sysconf(_SC_CLK_TCK) / 5)
      << "more than 10 % of a core while it waits for descriptors";
  const auto asked = Clock::now();
  const int real = Connect(localPort);
  EXPECT_EQ(Socks5(real, "localhost", target.Port()), 0);
  SendAll(real, "served");
  EXPECT_EQ(Receive(real, 6), "served");
  EXPECT_LT(Clock::now() - asked, std::chrono::seconds(5));
  close(real);
  for (const int s : silent) {
    close(s);
  }
}

// A relay behind TLS on `port` showing `certificate`: it counts the agent's
// credentials checks and answers them, records every other request head and
// answers it: "endless.example" with a head that never ends, anything else
// with 200 and an echo.
class RecordingRelay {
 public:
  explicit RecordingRelay(std::uint16_t port, const std::string& certificate = "relay")
      : server_([this](int c) {
          const std::string head = ReceiveHead(c);
          if (head.find(":" + std::to_string(port_) + " ") != std::string::npos) {
            ++checks_;
            SendAll(c, "HTTP/1.1 200 OK\r\n\r\n");  // the credentials check
            return;
          }
          {
            std::lock_guard<std::mutex> lock(mutex_);
            heads_ += head;
          }
          if (head.find("endless.example") != std::string::npos) {
            SendAll(c, "HTTP/1.1 200 OK\r\n");
            const std::string line = "X-Filler: " + std::string(1000, 'a') + "\r\n";
            for (int sent = 0; sent < 100000 && send(c, line.data(), line.size(), MSG_NOSIGNAL) > 0;
                 ++sent) {
            }
            return;
          }
          SendAll(c, "HTTP/1.1 200 Connection established\r\n\r\n");
          ServeTarget(c);
        }),
        port_(port),
        front_(port, server_.Port(), certificate) {}
  bool Started() const { return front_.Started(); }
  int Checks() const { return checks_; }
  std::string Heads() {
    std::lock_guard<std::mutex> lock(mutex_);
    return heads_;
  }

 private:
  std::mutex mutex_;
  std::string heads_;
  std::atomic<int> checks_{0};
  LoopbackServer server_;
  std::uint16_t port_;
  Relay front_;
};

TEST_F(Agent, BadNamesNeverReachTheRelayAndAnEndlessReplyFailsOneConnection) {
  RecordingRelay fake(relayPort);
  ASSERT_TRUE(fake.Started());
  StartWarden();
  ASSERT_TRUE(warden->WaitForLine("160138"));
  for (const std::string& name :
       {std::string("a.example\r\nX-Injected: 1"), std::string("a example"), std::string("a\0b", 3),
        std::string("a\x7F")}) {
    const int s = Connect(localPort);
    EXPECT_EQ(Socks5(s, name, 80), 5) << "refused: " << name;
    close(s);
  }
  int s = Connect(localPort);  // SOCKS4a with a name over 255 bytes
  SendAll(s, std::string("\x04\x01\x00\x50\x00\x00\x00\x01u\0", 10) + std::string(300, 'n') + '\0');
  EXPECT_EQ(Receive(s, 8).substr(0, 2), std::string("\x00\x5B", 2));
  close(s);
  // A bare LF would start a line of the client's own; a folded line, a
  // control byte in a name or TRACE (a relay may echo the credentials) are
  // not HTTP/1.1 either; a 60 KB head in one write is over the limit.
  for (const std::string& refused :
       {std::string("GET http://a.example/ HTTP/1.1\r\nHost: a\nX-Injected: 1\r\n\r\n"),
        std::string("GET http://a.example/ HTTP/1.1\r\nHost: a\r\n X-Folded: 1\r\n\r\n"),
        std::string("GET http://a.example/ HTTP/1.1\r\nHost\x01: a\r\n\r\n"),
        std::string("TRACE http://a.example/ HTTP/1.1\r\nHost: a\r\n\r\n"),
        "GET http://a.example/ HTTP/1.1\r\nX: " + std::string(60000, 'a') + "\r\n\r\n"}) {
    s = Connect(localPort);
    SendAll(s, refused);
    const std::string answer = ReceiveAll(s);
    EXPECT_TRUE(answer.rfind("HTTP/1.1 400", 0) == 0 || answer.rfind("HTTP/1.1 431", 0) == 0)
        << refused.substr(0, 60) << " -> " << answer;
    close(s);
  }
  EXPECT_EQ(fake.Heads(), "") << "nothing of them reached the relay";

  s = Connect(localPort);
  EXPECT_EQ(Socks5(s, "endless.example", 80), 5) << "a reply head over 16 KiB fails";
  close(s);
  EXPECT_LT(ResidentKb(warden->Pid()), 64 * 1024);
  s = Connect(localPort);
  ASSERT_EQ(Socks5(s, "good.example", 80), 0) << "and the agent goes on";
  SendAll(s, "on");
  EXPECT_EQ(Receive(s, 2), "on");
  close(s);
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

// The local proxy is its user's alone: another user's programs get neither
// SOCKS nor HTTP served, nothing of theirs reaches the relay, and the
// refusal is told at most once a minute. This user's are served as ever.
// (Needs root, to run a client as another user.)
TEST_F(Agent, AnotherUsersProgramsAreRefusedBeforeAnythingReachesTheRelay) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "only root can run a client as another user";
  }
  RecordingRelay recording(relayPort);
  ASSERT_TRUE(recording.Started());
  StartWarden();
  ASSERT_TRUE(warden->WaitForLine("160138"));
  const std::string site = "127.0.0.1:" + std::to_string(target.Port());
  // Each attempt prints "served" or "refused", as the user `nobody`.
  const std::string client =
      "import socket, struct, sys\n"
      "def ask(first, then):\n"
      "  try:\n"
      "    s = socket.create_connection(('127.0.0.1', " +
      std::to_string(localPort) +
      "), 5)\n"
      "    s.sendall(first)\n"
      "    got = s.recv(100)\n"
      "    if then: s.sendall(then); got += s.recv(100)\n"
      "    print('served' if got else 'refused', end='\\r\\n')\n"
      "  except OSError: print('refused', end='\\r\\n')\n"
      "for i in range(2):\n"
      "  ask(b'\\x05\\x01\\x00', b'\\x05\\x01\\x00\\x01\\x7f\\x00\\x00\\x01' + "
      "struct.pack('>H', " +
      std::to_string(target.Port()) +
      "))\n"
      "  ask(b'GET http://" +
      site + "/stranger HTTP/1.0\\r\\nHost: " + site +
      "\\r\\n\\r\\n', None)\n"
      "print('done', end='\\r\\n')\n";
  Child stranger({"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3",
                  "-c", client});
  ASSERT_TRUE(stranger.WaitForLine("done", 30));
  EXPECT_EQ(stranger.lines,
            (std::vector<std::string>{"refused", "refused", "refused", "refused", "done"}));
  EXPECT_EQ(recording.Heads(), "") << "nothing of the stranger's reached the relay";

  int s = Connect(localPort);
  EXPECT_EQ(Socks5(s, "localhost", target.Port()), 0) << "this user's SOCKS";
  close(s);
  s = Connect(localPort);
  SendAll(s, "CONNECT " + site + " HTTP/1.1\r\nHost: " + site + "\r\n\r\n");
  EXPECT_EQ(ReceiveHead(s).rfind("HTTP/1.1 200", 0), 0u) << "this user's HTTP";
  close(s);
  EXPECT_NE(recording.Heads().find("CONNECT " + site), std::string::npos);
  warden->WaitForLine("none", 1);  // what it said meanwhile
  const auto told = std::count_if(warden->lines.begin(), warden->lines.end(), [](const auto& l) {
    return l == "160246 refused a connection from another user's program (uid 65534)";
  });
  EXPECT_EQ(told, 1) << "four refusals, told once within the minute";
}

TEST_F(Agent, MalformedCommandLineIsReportedAndEnds) {
  Child bad({WARDEN_EXE, "-name", "x", "-H", "notaport"});
  EXPECT_TRUE(bad.WaitForLine("171001"));
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
