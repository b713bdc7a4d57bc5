// The whole agent's local proxy and its clients: every local protocol, kept-
// alive requests each to its own site, descriptors given back, malformed
// and hostile clients, another user's programs refused.
#include <gtest/gtest.h>

#include "AgentFixture.h"

namespace warden {
namespace {

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

}  // namespace
}  // namespace warden
