// The tunnel agent on loopback, in one run: throughput of a 1 GiB transfer
// directly, through tinyproxy alone (CONNECT with credentials), through
// warden and the same tinyproxy, through v2ray (a peer doing warden's job:
// SOCKS in, HTTP CONNECT with Basic credentials out) and the same tinyproxy,
// and through microsocks (a SOCKS server with no relay hop); connection
// set-up latency (p50/p99) for each; 1,000 concurrent connections through
// warden, none of which may be lost; and the resident memory warden and
// v2ray hold per connection with 1,000 connections open.
//
// Needs tinyproxy, microsocks and v2ray (Debian packages) at run time.
// Run: cmake --preset bench && cmake --build --preset bench &&
//      build/bench/bench/umbrane_bench_agent
#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
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

}  // namespace

int main() {
  std::setvbuf(stdout, nullptr, _IOLBF, 0);  // each row as soon as it is measured
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

  const std::uint16_t relayPort = FreePort();
  Relay relay(relayPort, kUser, kToken);
  const std::uint16_t agentPort = FreePort();
  Child agent({WARDEN_EXE, "-name", kUser, "-key", kToken, "-do", "-H", std::to_string(agentPort),
               "-umbrane", "-port", std::to_string(relayPort), "-say", "127.0.0.1"});
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
  if (!agent.WaitForLine("160138")) {
    std::fprintf(stderr, "warden did not come up\n");
    return 1;
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
  Path("warden + tinyproxy", socks(agentPort), bulk.Port(), hello.Port());
  Path("v2ray + tinyproxy", socks(v2rayPort), bulk.Port(), hello.Port());
  Path("microsocks (peer)", socks(peerPort), bulk.Port(), hello.Port());

  double wardenKb = 0;
  double v2rayKb = 0;
  const auto start = Clock::now();
  const int answered = HoldThousand(socks(agentPort), echo.Port(), agent.Pid(), wardenKb);
  std::printf("1000 concurrent connections through warden: %d answered, %d lost, %.2f s\n",
              answered, 1000 - answered, Seconds(start));
  const int v2rayAnswered = HoldThousand(socks(v2rayPort), echo.Port(), v2ray.Pid(), v2rayKb);
  std::printf(
      "resident memory per held connection (1000 open): warden %.1f kB, v2ray %.1f kB"
      " (%d answered)\n",
      wardenKb, v2rayKb, v2rayAnswered);
  std::remove(v2rayConfig.c_str());
  return answered == 1000 ? 0 : 1;
}
