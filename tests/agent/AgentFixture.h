// The whole agent on this machine, for its end-to-end tests: a real relay
// (tinyproxy with Basic authentication, behind TLS with the tests' own
// certificates) on the loopback, a target server, the agent started with
// its command line, and a relay of the tests' own that records what it is
// sent. Every wait is bounded.
#pragma once

#include <gtest/gtest.h>

#include "Loopback.h"
#include "common/Base64.h"
#include "relay/ConnectRequest.h"

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

using namespace loopback;

// Answers "GET" with a small HTTP response; echoes anything else back until
// the client half-closes (the server then closes).
inline void ServeTarget(int c) {
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

// The codes the agent printed, in their order.
inline std::vector<std::string> Codes(const Child& agent) {
  std::vector<std::string> codes;
  for (const auto& line : agent.lines) {
    codes.push_back(line.substr(0, 6));
  }
  return codes;
}

// Waits up to `seconds` for `condition`, looking every 50 ms.
template <typename Condition>
inline bool Within(int seconds, Condition condition) {
  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  while (!condition()) {
    if (Clock::now() > deadline) {
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return true;
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

}  // namespace warden
