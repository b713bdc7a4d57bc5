// The tunnel agent on loopback, in one run: throughput of a 1 GiB transfer
// directly, through tinyproxy alone (CONNECT with credentials), through
// warden and the same tinyproxy behind TLS (stunnel), through the same
// agent in clear text with stunnel's client mode doing its TLS to the same
// relay, through v2ray (a peer doing warden's job in clear: SOCKS in, HTTP
// CONNECT with Basic credentials out) and tinyproxy, and through microsocks
// (a SOCKS server with no relay hop); connection set-up latency (p50/p99)
// for each; the set-up of a new client connection over a link with 50 ms of
// round trip to the relay, in round trips, through the TLS relay and through
// a clear-text one; 1,000 concurrent connections through warden, none of
// which may be lost; the resident memory warden and v2ray hold per
// connection with 1,000 connections open; how a page of 6 requests fares
// after every connection between agent and relay went silent or was reset
// (a change of network, made by the tests' forwarder) and after the relay
// was away 8 s; and, over `--idle-minutes` (10 unless told), the
// connections an idle agent opens to its relay, and what the first request
// after it costs over a 50 ms round trip.
//
// With `--http [OLD-AGENT]` it measures plain HTTP alone, each site in a
// tunnel of its own: requests per second on one kept-alive client
// connection (one site, then two sites in turns) through tinyproxy and
// Squid behind TLS, and the first byte of a request on a new client
// connection over a 50 ms round trip; OLD-AGENT, an agent built from an
// earlier version, is measured beside it in the same run.
//
// Needs tinyproxy, stunnel4, microsocks and v2ray (Debian packages) at run
// time.
// Run: cmake --preset bench && cmake --build --preset bench &&
//      build/bench/bench/umbrane_bench_agent [--idle-minutes N]
#include <netinet/tcp.h>
#include <sys/resource.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <fstream>
#include <functional>
#include <vector>

#include "Loopback.h"

using namespace warden::loopback;

namespace {

constexpr std::size_t kBulk = std::size_t{1} << 30;
constexpr const char* kUser = "publicuser";
constexpr const char* kToken = "bench";
constexpr const char* kCredentials = "cHVibGljdXNlcjpiZW5jaA==";  // base64 "publicuser:bench"

using Opener = std::function<int(std::uint16_t target)>;

// A connection to 127.0.0.1:`target` through a SOCKS5 proxy at `socks`.
int OpenSocks(std::uint16_t socks, std::uint16_t target) {
  const int s = Connect(socks);
  SendAll(s, std::string("\x05\x01\x00", 3));
  if (Receive(s, 2) != std::string("\x05\x00", 2)) {
    close(s);
    return -1;
  }
  SendAll(s, std::string("\x05\x01\x00\x01\x7F\x00\x00\x01", 8) +
                 std::string{char(target >> 8), char(target & 0xFF)});
  const std::string reply = Receive(s, 10);
  if (reply.size() != 10 || reply[1] != 0) {
    close(s);
    return -1;
  }
  return s;
}

// The same through an HTTP proxy's CONNECT with Basic credentials.
int OpenConnect(std::uint16_t proxy, std::uint16_t target) {
  const int s = Connect(proxy);
  const std::string authority = "127.0.0.1:" + std::to_string(target);
  SendAll(s, "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority +
                 "\r\nProxy-Authorization: Basic " + kCredentials + "\r\n\r\n");
  std::string head;
  while (head.find("\r\n\r\n") == std::string::npos) {
    const std::string byte = Receive(s, 1);
    if (byte.empty()) {
      close(s);
      return -1;
    }
    head += byte;
  }
  if (head.find(" 200") == std::string::npos) {
    close(s);
    return -1;
  }
  return s;
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void Path(const char* name, const Opener& open, std::uint16_t bulk, std::uint16_t hello) {
  // The client speaks first on every path (v2ray's relay side waits for the
  // client's first bytes before it sends its CONNECT).
  const auto start = Clock::now();
  const int s = open(bulk);
  if (s >= 0) {
    SendAll(s, "g");
  }
  std::size_t total = 0;
  std::vector<char> buffer(1 << 20);
  for (ssize_t n; s >= 0 && (n = recv(s, buffer.data(), buffer.size(), 0)) > 0;) {
    total += static_cast<std::size_t>(n);
  }
  close(s);
  const double seconds = Seconds(start);
  std::vector<double> setups;
  for (int i = 0; i < 300; ++i) {
    const auto t = Clock::now();
    const int c = open(hello);
    if (c >= 0) {
      SendAll(c, "g");
    }
    if (c >= 0 && Receive(c, 1).size() == 1) {
      setups.push_back(Seconds(t) * 1e3);
    }
    close(c);
  }
  std::sort(setups.begin(), setups.end());
  const auto at = [&](double q) {
    return setups.empty() ? 0.0 : setups[static_cast<std::size_t>(q * (setups.size() - 1))];
  };
  std::printf("%-22s %8.1f MiB/s  (%zu MiB)   set-up p50 %6.3f ms  p99 %6.3f ms\n", name,
              static_cast<double>(total) / (1 << 20) / seconds, total >> 20, at(0.5), at(0.99));
}

// New client connections per second through the agent at `port`, one after
// another: only the SOCKS greeting answered (what the agent does alone), and
// whole (through the relay to `hello` and back). Each client ends with a
// reset, so that no port waits out TIME_WAIT.
struct Rates {
  double greetings = 0;
  double whole = 0;
};
Rates NewConnections(std::uint16_t port, std::uint16_t hello) {
  constexpr int kEach = 3000;
  Rates rates;
  auto start = Clock::now();
  int greeted = 0;
  for (int i = 0; i < kEach; ++i) {
    const int c = Connect(port);
    SendAll(c, std::string("\x05\x01\x00", 3));
    greeted += Receive(c, 2) == std::string("\x05\x00", 2);
    CloseWithReset(c);
  }
  rates.greetings = greeted / Seconds(start);
  start = Clock::now();
  int whole = 0;
  for (int i = 0; i < kEach / 3; ++i) {
    const int c = OpenSocks(port, hello);
    if (c >= 0) {
      SendAll(c, "g");
      whole += Receive(c, 1).size() == 1;
    }
    CloseWithReset(c);
  }
  rates.whole = whole / Seconds(start);
  return rates;
}

// Answers every request of a kept-alive connection with a small page.
void ServeSmallPages(int c) {
  for (std::string head; !(head = ReceiveHead(c)).empty();) {
    (void)Receive(c, ContentLength(head));
    SendAll(c, "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello");
  }
}

// Plain-HTTP GETs through the proxy at `proxy`, one after another on one
// client connection (a new one only when the relay's side closed it), to
// `sites` in turns; requests per second, and the client connections used.
void KeptAliveRate(const char* name, std::uint16_t proxy, const std::vector<std::uint16_t>& sites) {
  constexpr int kRequests = 2000;
  int connections = 0;
  int s = -1;
  const auto start = Clock::now();
  for (int i = 0; i < kRequests; ++i) {
    const std::string site = "127.0.0.1:" + std::to_string(sites[i % sites.size()]);
    const std::string get = "GET http://" + site + "/p HTTP/1.1\r\nHost: " + site + "\r\n\r\n";
    std::string head;
    for (int attempt = 0; attempt < 2 && head.empty(); ++attempt) {
      if (s < 0 || attempt > 0) {
        close(s);
        s = Connect(proxy);
        ++connections;
      }
      SendAll(s, get);
      head = ReceiveHead(s);
    }
    if (head.empty() || Receive(s, ContentLength(head)) != "hello") {
      std::printf("%-40s failed at request %d\n", name, i);
      close(s);
      return;
    }
  }
  close(s);
  std::printf("%-40s %7.0f requests/s  (%d client connections)\n", name, kRequests / Seconds(start),
              connections);
}

// The first byte of a plain-HTTP GET on a new client connection through
// the agent at `proxy`, whose relay is a round trip of `rtt` away, in round
// trips: median and worst of 20, one at a time.
void FirstByte(const char* name, std::uint16_t proxy, std::uint16_t site, double rtt) {
  std::vector<double> took;
  for (int i = 0; i < 20; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    const auto t = Clock::now();
    const int c = Connect(proxy);
    SendAll(c, "GET http://127.0.0.1:" + std::to_string(site) +
                   "/p HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n");
    const bool answered = !Receive(c, 1).empty();
    took.push_back(answered ? Seconds(t) * 1e3 / rtt : -1.0);
    close(c);
  }
  std::sort(took.begin(), took.end());
  std::printf("%-40s first byte: median %.2f, worst %.2f round trips\n", name,
              took[took.size() / 2], took.back());
}

// The agent that checks its clients' owner against one that does not, in
// turns (three each, the best of each kept: the machine's noise only ever
// slows a run down).
void CheckCost(const char* setting, std::uint16_t checked, std::uint16_t unchecked,
               std::uint16_t hello) {
  Rates best[2];
  for (int round = 0; round < 3; ++round) {
    for (int which = 0; which < 2; ++which) {
      const Rates r = NewConnections(which == 0 ? checked : unchecked, hello);
      best[which].greetings = std::max(best[which].greetings, r.greetings);
      best[which].whole = std::max(best[which].whole, r.whole);
    }
  }
  std::printf(
      "%-24s checked %6.0f greetings/s %4.0f whole/s; unchecked %6.0f / %4.0f"
      " (%.2f, %.2f; the check about %.1f us a connection)\n",
      setting, best[0].greetings, best[0].whole, best[1].greetings, best[1].whole,
      best[0].greetings / best[1].greetings, best[0].whole / best[1].whole,
      1e6 / best[0].greetings - 1e6 / best[1].greetings);
}

// A link to 127.0.0.1:`target` with `delay` each way: every chunk is passed
// on `delay` after it arrived, and nothing the connecting side sends moves
// before a TCP handshake's round trip has passed.
class DelayedLink {
 public:
  DelayedLink(std::uint16_t target, std::chrono::milliseconds delay)
      : server_([target, delay](int c) {
          const int r = Connect(target);
          // A link, not a program: what arrives is passed on as it is due,
          // never held back for more, and a quiet connection stays up.
          const int on = 1;
          const timeval forever{0, 0};
          for (const int s : {c, r}) {
            setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
            setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &forever, sizeof forever);
          }
          const auto opened = Clock::now();
          std::thread out([&] { Carry(c, r, opened + 2 * delay, delay); });
          Carry(r, c, opened, delay);
          out.join();
          close(r);
        }) {}
  std::uint16_t Port() const { return server_.Port(); }

 private:
  static void Carry(int from, int to, Clock::time_point notBefore,
                    std::chrono::milliseconds delay) {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<std::pair<Clock::time_point, std::string>> queue;
    bool ended = false;
    std::thread writer([&] {
      for (;;) {
        std::unique_lock<std::mutex> lock(mutex);
        arrived.wait(lock, [&] { return !queue.empty() || ended; });
        if (queue.empty()) {
          break;
        }
        auto [due, data] = std::move(queue.front());
        queue.pop_front();
        lock.unlock();
        std::this_thread::sleep_until(due);
        SendAll(to, data);
      }
      shutdown(to, SHUT_WR);
    });
    char buffer[65536];
    for (ssize_t n; (n = recv(from, buffer, sizeof buffer, 0)) > 0;) {
      std::lock_guard<std::mutex> lock(mutex);
      queue.emplace_back(std::max(Clock::now(), notBefore) + delay,
                         std::string(buffer, static_cast<std::size_t>(n)));
      arrived.notify_one();
    }
    {
      std::lock_guard<std::mutex> lock(mutex);
      ended = true;
    }
    arrived.notify_one();
    writer.join();
  }
  LoopbackServer server_;
};

// The set-up of new client connections through `open` over a link of
// `rtt`, in round trips: one at a time (connections kept ready have time to
// be replaced), then a burst of 8 at once.
void RoundTrips(const char* name, const Opener& open, std::uint16_t hello, double rtt) {
  const auto measure = [&] {
    const auto t = Clock::now();
    const int c = open(hello);
    const double ms = Seconds(t) * 1e3;
    close(c);
    return c >= 0 ? ms / rtt : -1.0;
  };
  std::vector<double> single;
  for (int i = 0; i < 20; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    single.push_back(measure());
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  std::vector<double> burst(8);
  std::vector<std::thread> clients;
  for (auto& slot : burst) {
    clients.emplace_back([&] { slot = measure(); });
  }
  for (auto& client : clients) {
    client.join();
  }
  std::sort(single.begin(), single.end());
  std::sort(burst.begin(), burst.end());
  std::printf("%-34s one at a time: median %.2f, worst %.2f;  burst of 8: best %.2f, worst %.2f\n",
              name, single[single.size() / 2], single.back(), burst.front(), burst.back());
}

// 1,000 connections to the echo server opened through `open` and carrying
// a byte each way, then held. Returns how many answered; `perConnection`
// gets the growth of `pid`'s resident memory divided by 1,000.
int HoldThousand(const Opener& open, std::uint16_t echo, pid_t pid, double& perConnection) {
  const long before = ResidentKb(pid);
  std::vector<int> held;
  for (int i = 0; i < 1000; ++i) {
    held.push_back(open(echo));
  }
  int answered = 0;
  for (const int s : held) {
    if (s >= 0) {
      SendAll(s, "x");
    }
  }
  for (const int s : held) {
    answered += s >= 0 && Receive(s, 1) == "x";
  }
  perConnection = static_cast<double>(ResidentKb(pid) - before) / 1000.0;
  for (const int s : held) {
    close(s);
  }
  return answered;
}

std::string Seconds(const std::vector<double>& took) {
  const auto answered = std::count_if(took.begin(), took.end(), [](double t) { return t >= 0; });
  return std::to_string(answered) + "/" + std::to_string(took.size()) + " answered, slowest " +
         std::to_string(*std::max_element(took.begin(), took.end())).substr(0, 5) + " s";
}

bool Whole(const std::vector<double>& took) {
  return std::all_of(took.begin(), took.end(), [](double t) { return t >= 0; });
}

// A page of 6 through an agent whose every relay connection, through the
// forwarder, goes silent or is reset first; then a relay away for 8 s.
void Recovery(const std::function<std::unique_ptr<Child>(std::uint16_t, std::uint16_t)>& start,
              std::uint16_t relayPort, std::uint16_t site) {
  std::printf("\nthe first page (6 requests at once) after a change of network:\n");
  for (const bool silence : {true, false}) {
    const std::uint16_t front = FreePort();
    Relay tls(front, relayPort);
    const std::uint16_t through = FreePort();
    Forwarder network(through, front);
    const std::uint16_t port = FreePort();
    auto agent = start(port, through);
    if (!agent->WaitForLine("160138") || !Whole(LoadPage(port, site, 6))) {
      std::printf("  the agent did not come up\n");
      return;
    }
    std::this_thread::sleep_for(std::chrono::seconds(1));
    silence ? network.Silence() : network.Reset();
    std::printf("  every relay connection %-8s %s\n",
                silence ? "silent:" : "reset:", Seconds(LoadPage(port, site, 6)).c_str());
  }
  const std::uint16_t front = FreePort();
  auto tls = std::make_unique<Relay>(front, relayPort);
  const std::uint16_t port = FreePort();
  auto agent = start(port, front);
  agent->WaitForLine("160138");
  LoadPage(port, site, 6);
  tls.reset();  // the relay goes away
  std::this_thread::sleep_for(std::chrono::seconds(8));
  tls = std::make_unique<Relay>(front, relayPort);
  const auto back = Clock::now();
  while (!Whole(LoadPage(port, site, 6)) && Seconds(back) < 30) {
    std::this_thread::sleep_for(std::chrono::milliseconds(250));
  }
  std::printf("  the relay away 8 s: a whole page %.2f s after its return\n", Seconds(back));
}

// The connections an idle agent opened to its relay, from the forwarder's
// log: per minute after the first (when clients were last seen), and the
// gaps between them.
void Idle(const std::vector<double>& opened, double since, int minutes) {
  std::printf("\nidle %d minutes: connections to the relay per minute:", minutes);
  int most = 0;
  std::vector<double> quiet;
  for (int m = 1; m < minutes; ++m) {
    const auto in = std::count_if(opened.begin(), opened.end(), [&](double t) {
      return t >= since + 60.0 * m && t < since + 60.0 * (m + 1);
    });
    most = std::max(most, static_cast<int>(in));
    std::printf(" %ld", static_cast<long>(in));
  }
  for (const double t : opened) {
    if (t >= since + 60) {
      quiet.push_back(t);
    }
  }
  std::vector<double> gaps;
  for (std::size_t i = 1; i < quiet.size(); ++i) {
    gaps.push_back(quiet[i] - quiet[i - 1]);
  }
  std::sort(gaps.begin(), gaps.end());
  std::printf("\n  at most %d a minute; gaps between them %.1f to %.1f s\n", most,
              gaps.empty() ? 0.0 : gaps.front(), gaps.empty() ? 0.0 : gaps.back());
}

// Two relays, the first blocked as a censor blocks one, at start or under a
// running agent: the seconds until a page of 6 is whole through the second,
// against the same agent with the first relay alone (the old way: one
// address). And whether the second was contacted while the first worked.
int Failover() {
  TrustTestAuthority();
  LoopbackServer site([](int c) {
    if (!ReceiveHead(c).empty()) {
      SendAll(c, kPage);
    }
  });
  const std::uint16_t relayPort = FreePort();
  Relay relay(relayPort, kUser, kToken);
  char name[] = "/tmp/umbrane-bench-relays-XXXXXX";
  const std::string folder = mkdtemp(name);
  setenv("WARDEN_FOLDER", folder.c_str(), 1);
  std::printf("a page of 6 after the first relay is blocked (%s), seconds to the whole page:\n",
              "best and worst of 3");
  std::printf("%-22s %-20s %s\n", "", "two relays", "the first alone");
  const struct {
    const char* label;
    bool running;
    bool silently;
  } cases[] = {{"black hole at start", false, true},
               {"resets at start", false, false},
               {"black hole while on", true, true},
               {"resets while on", true, false}};
  int secondWhileFirstWorks = 0;
  for (const auto& c : cases) {
    std::string cells[2];
    for (const bool both : {true, false}) {
      std::vector<double> took;
      for (int round = 0; round < 3; ++round) {
        const std::uint16_t first = FreePort();
        const std::uint16_t second = FreePort();
        Forwarder firstWay(first, relayPort);
        Forwarder secondWay(second, relayPort);
        std::ofstream(folder + "/relays.txt")
            << "127.0.0.1:" << first << (both ? "\n127.0.0.1:" + std::to_string(second) : "");
        std::remove((folder + "/relay-in-use.txt").c_str());
        const std::uint16_t port = FreePort();
        if (!c.running) {
          firstWay.Block(c.silently);
        }
        const auto start = Clock::now();
        Child agent({WARDEN_EXE, "-name", kUser, "-key", kToken, "-do", "-H", std::to_string(port),
                     "-umbrane", "-port", std::to_string(first), "-say", "127.0.0.1"});
        auto since = start;
        if (c.running) {
          agent.WaitForLine("160138");
          LoadPage(port, site.Port(), 6);
          std::this_thread::sleep_for(std::chrono::seconds(1));
          secondWhileFirstWorks += static_cast<int>(secondWay.Opened().size());
          firstWay.Block(c.silently);
          since = Clock::now();
        } else if (!agent.WaitForLine("160138", 12)) {
          took.push_back(-1);
          continue;
        }
        took.push_back(Whole(LoadPage(port, site.Port(), 6)) ? Seconds(since) : -1);
      }
      std::sort(took.begin(), took.end());
      char cell[64];
      if (took.front() < 0) {
        std::snprintf(cell, sizeof cell, "no page (%d of 3)",
                      static_cast<int>(std::count(took.begin(), took.end(), -1.0)));
      } else {
        std::snprintf(cell, sizeof cell, "%.2f to %.2f", took.front(), took.back());
      }
      cells[both ? 0 : 1] = cell;
    }
    std::printf("%-22s %-20s %s\n", c.label, cells[0].c_str(), cells[1].c_str());
  }
  std::printf("connections to the second relay while the first worked: %d\n",
              secondWhileFirstWorks);
  (void)std::system(("rm -rf '" + folder + "'").c_str());
  return 0;
}

}  // namespace

// Plain HTTP through the agent (and an earlier one, when named) over TLS
// to tinyproxy and to Squid.
int HttpOnly(const char* oldAgent) {
  LoopbackServer siteA(ServeSmallPages);
  LoopbackServer siteB(ServeSmallPages);
  TrustTestAuthority();
  const std::uint16_t tinyPort = FreePort();
  Relay tiny(tinyPort, kUser, kToken, "tinyproxy");
  const std::uint16_t squidPort = FreePort();
  Relay squid(squidPort, kUser, kToken, "squid");
  constexpr std::chrono::milliseconds kDelay{25};
  DelayedLink far(tinyPort, kDelay);
  std::vector<std::pair<std::string, const char*>> agents = {{"warden", WARDEN_EXE}};
  if (oldAgent != nullptr) {
    agents.emplace_back("earlier warden", oldAgent);
  }
  std::printf("plain HTTP, 2000 GETs on one kept-alive client connection:\n");
  for (const auto& [label, program] : agents) {
    for (const auto& [relayName, port] : std::vector<std::pair<std::string, std::uint16_t>>{
             {"tinyproxy", tinyPort}, {"Squid", squidPort}}) {
      const std::uint16_t agentPort = FreePort();
      Child agent({program, "-name", kUser, "-key", kToken, "-do", "-H", std::to_string(agentPort),
                   "-umbrane", "-port", std::to_string(port), "-say", "127.0.0.1"});
      if (!agent.WaitForLine("160138")) {
        std::printf("%s did not come up\n", label.c_str());
        return 1;
      }
      KeptAliveRate((label + ", " + relayName + ", one site").c_str(), agentPort, {siteA.Port()});
      KeptAliveRate((label + ", " + relayName + ", two sites in turns").c_str(), agentPort,
                    {siteA.Port(), siteB.Port()});
    }
  }
  std::printf("\nnew client connection over a 50 ms round trip to the relay (tinyproxy):\n");
  for (const auto& [label, program] : agents) {
    const std::uint16_t agentPort = FreePort();
    Child agent({program, "-name", kUser, "-key", kToken, "-do", "-H", std::to_string(agentPort),
                 "-umbrane", "-port", std::to_string(far.Port()), "-say", "127.0.0.1"});
    if (agent.WaitForLine("160138")) {
      FirstByte(label.c_str(), agentPort, siteA.Port(), 2.0 * kDelay.count());
    }
  }
  return 0;
}

int main(int argc, char** argv) {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each row as soon as it is measured
  if (argc >= 2 && std::string(argv[1]) == "--http") {
    return HttpOnly(argc >= 3 ? argv[2] : nullptr);
  }
  if (argc >= 2 && std::string(argv[1]) == "--failover") {
    return Failover();
  }
  int idleMinutes = 10;
  if (argc == 3 && std::string(argv[1]) == "--idle-minutes") {
    idleMinutes = std::atoi(argv[2]);
  }
  rlimit files{16384, 16384};
  setrlimit(RLIMIT_NOFILE, &files);  // for 1,000 connections on several processes

  LoopbackServer bulk([](int c) {
    if (Receive(c, 1).empty()) {
      return;
    }
    std::vector<char> block(1 << 20, 'x');
    for (std::size_t sent = 0; sent < kBulk;) {
      const ssize_t n = send(c, block.data(), block.size(), MSG_NOSIGNAL);
      if (n <= 0) {
        return;
      }
      sent += static_cast<std::size_t>(n);
    }
  });
  LoopbackServer hello([](int c) {
    if (!Receive(c, 1).empty()) {
      SendAll(c, "h");
    }
  });
  LoopbackServer echo([](int c) {
    char b[64];
    for (ssize_t n; (n = recv(c, b, sizeof b, 0)) > 0;) {
      SendAll(c, std::string(b, static_cast<std::size_t>(n)));
    }
  });

  TrustTestAuthority();
  // tinyproxy in clear (for the peers, which speak no TLS to a relay), and
  // the same tinyproxy behind stunnel's TLS.
  const std::uint16_t relayPort = FreePort();
  Relay relay(relayPort, kUser, kToken, "tinyproxy", "", "");
  const std::uint16_t tlsPort = FreePort();
  Relay tls(tlsPort, relayPort);
  const std::uint16_t clientPort = FreePort();
  Relay tlsClient(Relay::ClientMode{}, clientPort, tlsPort);
  const auto startAgent = [](const char* program, std::uint16_t port, std::uint16_t to) {
    return std::make_unique<Child>(std::vector<std::string>{
        program, "-name", kUser, "-key", kToken, "-do", "-H", std::to_string(port), "-umbrane",
        "-port", std::to_string(to), "-say", "127.0.0.1"});
  };
  const std::uint16_t agentPort = FreePort();
  auto agentOwner = startAgent(WARDEN_EXE, agentPort, tlsPort);
  Child& agent = *agentOwner;
  const std::uint16_t plainAgentPort = FreePort();
  auto plainAgent = startAgent(WARDEN_PLAIN_EXE, plainAgentPort, clientPort);
  constexpr std::chrono::milliseconds kDelay{25};
  DelayedLink farTls(tlsPort, kDelay);
  DelayedLink farPlain(relayPort, kDelay);
  const std::uint16_t farAgentPort = FreePort();
  auto farAgent = startAgent(WARDEN_EXE, farAgentPort, farTls.Port());
  const std::uint16_t farPlainAgentPort = FreePort();
  auto farPlainAgent = startAgent(WARDEN_PLAIN_EXE, farPlainAgentPort, farPlain.Port());
  // The idle agent: behind a 50 ms link and a forwarder that logs every
  // connection it carries to the relay.
  const std::uint16_t idleFront = FreePort();
  Forwarder idleNetwork(idleFront, tlsPort);
  DelayedLink farIdle(idleFront, kDelay);
  const std::uint16_t idleAgentPort = FreePort();
  auto idleAgent = startAgent(WARDEN_EXE, idleAgentPort, farIdle.Port());
  const double idleSince =
      std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
  const auto idleStart = Clock::now();
  const std::uint16_t peerPort = FreePort();
  Child peer({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(peerPort)});
  const std::uint16_t v2rayPort = FreePort();
  const std::string v2rayConfig = "/tmp/umbrane-bench-v2ray.json";
  std::ofstream(v2rayConfig)
      << R"({"log":{"loglevel":"none"},"inbounds":[{"listen":"127.0.0.1","port":)" << v2rayPort
      << R"(,"protocol":"socks","settings":{"auth":"noauth","udp":false}}],)"
      << R"("outbounds":[{"protocol":"http","settings":{"servers":[{"address":"127.0.0.1","port":)"
      << relayPort << R"(,"users":[{"user":")" << kUser << R"(","pass":")" << kToken
      << R"("}]}]}}]})";
  Child v2ray({"v2ray", "-config", v2rayConfig});
  for (Child* each :
       {&agent, plainAgent.get(), farAgent.get(), farPlainAgent.get(), idleAgent.get()}) {
    if (!each->WaitForLine("160138")) {
      std::fprintf(stderr, "an agent did not come up\n");
      return 1;
    }
  }
  for (const std::uint16_t port : {peerPort, v2rayPort}) {
    int probe = -1;
    for (const auto deadline = Clock::now() + std::chrono::seconds(5);
         (probe = Connect(port)) < 0 && Clock::now() < deadline;) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    close(probe);
  }
  const auto socks = [](std::uint16_t proxy) {
    return Opener([proxy](std::uint16_t target) { return OpenSocks(proxy, target); });
  };

  std::printf("path                   throughput              connection set-up (300 each)\n");
  Path(
      "direct", [](std::uint16_t t) { return Connect(t); }, bulk.Port(), hello.Port());
  Path(
      "tinyproxy alone", [&](std::uint16_t t) { return OpenConnect(relayPort, t); }, bulk.Port(),
      hello.Port());
  Path("warden, TLS relay", socks(agentPort), bulk.Port(), hello.Port());
  Path("clear warden + stunnel", socks(plainAgentPort), bulk.Port(), hello.Port());
  Path("v2ray + tinyproxy", socks(v2rayPort), bulk.Port(), hello.Port());
  Path("microsocks (peer)", socks(peerPort), bulk.Port(), hello.Port());

  // The check of whose program a client is, against an agent without it, with
  // the machine's socket table long (2,000 more loopback connections open).
  const std::uint16_t uncheckedPort = FreePort();
  auto unchecked = startAgent(WARDEN_UNCHECKED_EXE, uncheckedPort, tlsPort);
  unchecked->WaitForLine("160138");
  std::printf("\nnew client connections, one after another (3,000 greetings, 1,000 whole):\n");
  CheckCost("alone", agentPort, uncheckedPort, hello.Port());
  {
    LoopbackServer idle([](int c) { (void)Receive(c, 1); });
    std::vector<int> crowd;
    for (int i = 0; i < 2000; ++i) {
      crowd.push_back(Connect(idle.Port()));
    }
    CheckCost("2,000 more sockets open", agentPort, uncheckedPort, hello.Port());
    for (const int c : crowd) {
      close(c);
    }
  }
  unchecked.reset();

  std::printf("\nnew client connection over a 50 ms round trip to the relay, in round trips:\n");
  RoundTrips("warden, TLS relay", socks(farAgentPort), hello.Port(), 2.0 * kDelay.count());
  RoundTrips("warden in clear, clear relay", socks(farPlainAgentPort), hello.Port(),
             2.0 * kDelay.count());

  double wardenKb = 0;
  double v2rayKb = 0;
  // A fresh agent for the memory: what 1 GiB and its buffers left behind in
  // the first one would blur the figure. It is warmed up as v2ray was.
  const std::uint16_t heldPort = FreePort();
  auto held = startAgent(WARDEN_EXE, heldPort, tlsPort);
  held->WaitForLine("160138");
  for (int i = 0; i < 300; ++i) {
    close(OpenSocks(heldPort, hello.Port()));
  }
  const auto start = Clock::now();
  const int answered = HoldThousand(socks(heldPort), echo.Port(), held->Pid(), wardenKb);
  std::printf("1000 concurrent connections through warden: %d answered, %d lost, %.2f s\n",
              answered, 1000 - answered, Seconds(start));
  const int v2rayAnswered = HoldThousand(socks(v2rayPort), echo.Port(), v2ray.Pid(), v2rayKb);
  std::printf(
      "resident memory per held connection (1000 open): warden %.1f kB, v2ray %.1f kB"
      " (%d answered)\n",
      wardenKb, v2rayKb, v2rayAnswered);
  std::remove(v2rayConfig.c_str());

  LoopbackServer site([](int c) {
    if (!ReceiveHead(c).empty()) {
      SendAll(c, kPage);
    }
  });
  Recovery([&](std::uint16_t port, std::uint16_t to) { return startAgent(WARDEN_EXE, port, to); },
           relayPort, site.Port());

  if (idleMinutes > 0) {
    std::this_thread::sleep_until(idleStart + std::chrono::minutes(idleMinutes));
    Idle(idleNetwork.Opened(), idleSince, idleMinutes);
    idleAgent->WaitForLine("none", 1);                           // reads what it said meanwhile
    for (std::size_t i = 5; i < idleAgent->lines.size(); ++i) {  // after its start
      std::printf("  it said: %s\n", idleAgent->lines[i].c_str());
    }
    const auto t = Clock::now();
    const int c = OpenSocks(idleAgentPort, hello.Port());
    std::printf("  the first request after it: %.2f round trips of 50 ms\n",
                c >= 0 ? Seconds(t) * 1e3 / (2.0 * kDelay.count()) : -1.0);
    close(c);
  }
  return answered == 1000 ? 0 : 1;
}
