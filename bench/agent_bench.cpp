// The tunnel agent on loopback, in one run: throughput of a 1 GiB transfer
// directly, through warden and a tinyproxy relay, and through microsocks as
// a peer SOCKS server; connection set-up latency (p50/p99) for each; and
// 1,000 concurrent connections through warden, none of which may be lost.
//
// Run: cmake --preset bench && cmake --build --preset bench &&
//      build/bench/bench/umbrane_bench_agent
#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

#include "Loopback.h"

using namespace warden::loopback;

namespace {

constexpr std::size_t kBulk = std::size_t{1} << 30;

// A connection to 127.0.0.1:`target`, directly or through a SOCKS5 proxy.
int Open(std::uint16_t target, std::uint16_t socks) {
  if (socks == 0) {
    return Connect(target);
  }
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

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

void Path(const char* name, std::uint16_t socks, std::uint16_t bulk, std::uint16_t hello) {
  const auto start = Clock::now();
  const int s = Open(bulk, socks);
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
    const int c = Open(hello, socks);
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

}  // namespace

int main() {
  rlimit files{16384, 16384};
  setrlimit(RLIMIT_NOFILE, &files);  // for 1,000 connections on three processes

  LoopbackServer bulk([](int c) {
    std::vector<char> block(1 << 20, 'x');
    for (std::size_t sent = 0; sent < kBulk;) {
      const ssize_t n = send(c, block.data(), block.size(), MSG_NOSIGNAL);
      if (n <= 0) {
        return;
      }
      sent += static_cast<std::size_t>(n);
    }
  });
  LoopbackServer hello([](int c) { SendAll(c, "h"); });
  LoopbackServer echo([](int c) {
    char b[64];
    for (ssize_t n; (n = recv(c, b, sizeof b, 0)) > 0;) {
      SendAll(c, std::string(b, static_cast<std::size_t>(n)));
    }
  });

  const std::uint16_t relayPort = FreePort();
  Tinyproxy relay(relayPort, "publicuser", "bench");
  const std::uint16_t agentPort = FreePort();
  Child agent({WARDEN_EXE, "-name", "publicuser", "-key", "bench", "-do", "-H",
               std::to_string(agentPort), "-umbrane", "-port", std::to_string(relayPort), "-say",
               "127.0.0.1"});
  const std::uint16_t peerPort = FreePort();
  Child peer({"microsocks", "-i", "127.0.0.1", "-p", std::to_string(peerPort)});
  if (!agent.WaitForLine("160138")) {
    std::fprintf(stderr, "warden did not come up\n");
    return 1;
  }
  for (const auto deadline = Clock::now() + std::chrono::seconds(5);
       Connect(peerPort) < 0 && Clock::now() < deadline;) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }

  std::printf("path                   throughput              connection set-up (300 each)\n");
  Path("direct", 0, bulk.Port(), hello.Port());
  Path("warden + tinyproxy", agentPort, bulk.Port(), hello.Port());
  Path("microsocks (peer)", peerPort, bulk.Port(), hello.Port());

  std::vector<int> open;
  const auto start = Clock::now();
  for (int i = 0; i < 1000; ++i) {
    open.push_back(Open(echo.Port(), agentPort));
  }
  int answered = 0;
  for (const int s : open) {
    if (s >= 0) {
      SendAll(s, "x");
    }
  }
  for (const int s : open) {
    answered += s >= 0 && Receive(s, 1) == "x";
    close(s);
  }
  std::printf("1000 concurrent connections through warden: %d answered, %d lost, %.2f s\n",
              answered, 1000 - answered, Seconds(start));
  return answered == 1000 ? 0 : 1;
}
