// Loopback helpers for the agent's tests and benchmarks on Linux: ports,
// plain blocking sockets, child processes read line by line, and a relay
// (tinyproxy or Squid) with Basic authentication.
#pragma once

#include <arpa/inet.h>
#include <dirent.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace warden::loopback {

using Clock = std::chrono::steady_clock;

inline int Listener(std::uint16_t port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  const int one = 1;
  setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 64) != 0) {
    close(s);
    return -1;
  }
  return s;
}

// A listener on [::1] at a free port.
inline int Listener6() {
  const int s = socket(AF_INET6, SOCK_STREAM, 0);
  sockaddr_in6 a{};
  a.sin6_family = AF_INET6;
  a.sin6_addr = in6addr_loopback;
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(s, 4) != 0) {
    close(s);
    return -1;
  }
  return s;
}

inline std::uint16_t BoundPort(int listener) {
  sockaddr_storage a{};
  socklen_t size = sizeof a;
  getsockname(listener, reinterpret_cast<sockaddr*>(&a), &size);
  return ntohs(a.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&a)->sin6_port
                                       : reinterpret_cast<sockaddr_in*>(&a)->sin_port);
}

// The next connection on `listener`, with the 5 s receive limit.
inline int Accept(int listener) {
  const int c = accept(listener, nullptr, nullptr);
  timeval limit{5, 0};
  setsockopt(c, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  return c;
}

inline std::uint16_t FreePort() {
  const int s = Listener(0);
  const std::uint16_t port = BoundPort(s);
  close(s);
  return port;
}

inline int Connect(std::uint16_t port) {
  const int s = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  timeval limit{5, 0};
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  if (connect(s, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    close(s);
    return -1;
  }
  return s;
}

inline void SendAll(int s, const std::string& data) {
  (void)send(s, data.data(), data.size(), MSG_NOSIGNAL);
}

// Exactly `n` bytes, or what came before the peer closed or 5 s passed.
inline std::string Receive(int s, std::size_t n) {
  std::string out;
  char buffer[4096];
  while (out.size() < n) {
    const ssize_t got = recv(s, buffer, std::min(sizeof buffer, n - out.size()), 0);
    if (got <= 0) {
      break;
    }
    out.append(buffer, static_cast<std::size_t>(got));
  }
  return out;
}

// An HTTP head, up to and with its empty line; nothing when the peer
// closed first.
inline std::string ReceiveHead(int s) {
  std::string head;
  while (head.size() < 4 || head.compare(head.size() - 4, 4, "\r\n\r\n") != 0) {
    const std::string byte = Receive(s, 1);
    if (byte.empty()) {
      return {};
    }
    head += byte;
  }
  return head;
}

inline std::size_t ContentLength(const std::string& head) {
  const auto at = head.find("Content-Length: ");
  return at == std::string::npos ? 0 : std::stoul(head.substr(at + 16));
}

inline std::string ReceiveAll(int s) {
  return Receive(s, 1 << 20);
}

// Closes `s` with a reset: the peer sees the connection broken, and no port
// waits out TIME_WAIT.
inline void CloseWithReset(int s) {
  const linger now{1, 0};
  setsockopt(s, SOL_SOCKET, SO_LINGER, &now, sizeof now);
  close(s);
}

// True when the peer closes (not when the 5 s time-out passes).
inline bool ClosedByPeer(int s) {
  char byte;
  return recv(s, &byte, 1, 0) == 0;
}

// A small page, the answer to any GET of a page load.
inline constexpr char kPage[] = "HTTP/1.0 200 OK\r\nContent-Length: 5\r\n\r\nhello";

// A page load through the HTTP proxy on 127.0.0.1:`proxy`: `n` requests at
// once for pages of 127.0.0.1:`site` (a server that answers a GET with
// kPage and closes), every other one through a CONNECT, as a browser asks
// for an https page. The seconds each took to its whole answer; -1 for one
// that got none within the 5 s a read waits.
inline std::vector<double> LoadPage(std::uint16_t proxy, std::uint16_t site, int n) {
  const std::string authority = "127.0.0.1:" + std::to_string(site);
  std::vector<double> took(static_cast<std::size_t>(n), -1);
  std::vector<std::thread> requests;
  for (int i = 0; i < n; ++i) {
    requests.emplace_back([&, i] {
      const auto start = Clock::now();
      const int s = Connect(proxy);
      const std::string get = " HTTP/1.1\r\nHost: " + authority + "\r\nConnection: close\r\n\r\n";
      bool through = true;
      if (i % 2 == 1) {
        SendAll(s, "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority + "\r\n\r\n");
        through = Receive(s, 39) == "HTTP/1.1 200 Connection established\r\n\r\n";
        SendAll(s, "GET /page" + std::to_string(i) + get);
      } else {
        SendAll(s, "GET http://" + authority + "/page" + std::to_string(i) + get);
      }
      if (through && ReceiveAll(s).find("\r\n\r\nhello") != std::string::npos) {
        took[static_cast<std::size_t>(i)] =
            std::chrono::duration<double>(Clock::now() - start).count();
      }
      close(s);
    });
  }
  for (auto& request : requests) {
    request.join();
  }
  return took;
}

// What a process holds, from /proc: resident memory in kB, open
// descriptors, and the CPU time it has used, in clock ticks.
inline long ResidentKb(pid_t pid) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string word;
  while (status >> word) {
    if (word == "VmRSS:") {
      long kb = 0;
      status >> kb;
      return kb;
    }
  }
  return 0;
}

inline int OpenDescriptors(pid_t pid) {
  int count = 0;
  if (DIR* fds = opendir(("/proc/" + std::to_string(pid) + "/fd").c_str())) {
    while (readdir(fds) != nullptr) {
      ++count;
    }
    closedir(fds);
  }
  return count - 2;  // "." and ".."
}

inline long CpuTicks(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string field;
  long ticks = 0;
  for (int i = 1; i <= 15 && stat >> field; ++i) {
    if (i == 14 || i == 15) {  // user and system time (the name has no blank here)
      ticks += std::stol(field);
    }
  }
  return ticks;
}

// A child process whose standard output is read line by line.
class Child {
 public:
  explicit Child(const std::vector<std::string>& argv) {
    int fds[2];
    if (pipe(fds) != 0) {
      return;
    }
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
    posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addclose(&actions, fds[0]);
    std::vector<char*> args;
    for (const auto& a : argv) {
      args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    if (posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) {
      pid_ = 0;
    }
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
  }
  ~Child() {
    Kill();
    close(out_);
  }
  void Kill() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      pid_ = 0;
    }
  }
  // Waits for a line that starts with `code`; every line seen is kept.
  bool WaitForLine(const std::string& code, int seconds = 15) {
    const auto deadline = Clock::now() + std::chrono::seconds(seconds);
    for (;;) {
      for (const auto& line : lines) {
        if (line.rfind(code, 0) == 0) {
          return true;
        }
      }
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) {
        return false;
      }
      pollfd p{out_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) {
        continue;
      }
      char buffer[1024];
      const ssize_t n = read(out_, buffer, sizeof buffer);
      if (n <= 0) {
        return false;
      }
      pending_.append(buffer, static_cast<std::size_t>(n));
      for (auto end = pending_.find("\r\n"); end != std::string::npos;
           end = pending_.find("\r\n")) {
        lines.push_back(pending_.substr(0, end));
        pending_.erase(0, end + 2);
      }
    }
  }
  pid_t Pid() const { return pid_; }
  std::vector<std::string> lines;

 private:
  pid_t pid_ = 0;
  int out_ = -1;
  std::string pending_;
};

// Serves every connection with `serve` on its own thread. Its end ends
// the connections still served and waits for their handlers, which may use
// what the server's owner is about to free.
class LoopbackServer {
 public:
  explicit LoopbackServer(std::function<void(int)> serve)
      : port_(FreePort()), listener_(Listener(port_)), serve_(std::move(serve)) {
    thread_ = std::thread([this] {
      for (int c; (c = accept(listener_, nullptr, nullptr)) >= 0;) {
        std::lock_guard<std::mutex> lock(mutex_);
        open_.push_back(c);
        std::thread([this, c] {
          serve_(c);
          std::lock_guard<std::mutex> done(mutex_);
          close(c);
          open_.erase(std::find(open_.begin(), open_.end(), c));
          ended_.notify_all();
        }).detach();
      }
    });
  }
  ~LoopbackServer() {
    shutdown(listener_, SHUT_RDWR);
    close(listener_);
    thread_.join();
    std::unique_lock<std::mutex> lock(mutex_);
    for (const int c : open_) {
      shutdown(c, SHUT_RDWR);
    }
    ended_.wait(lock, [this] { return open_.empty(); });
  }
  std::uint16_t Port() const { return port_; }

 private:
  std::uint16_t port_;
  int listener_;
  std::function<void(int)> serve_;
  std::mutex mutex_;
  std::condition_variable ended_;
  std::vector<int> open_;  // connections being served
  std::thread thread_;
};

// The network between an agent and its relay (forwarder.py): it carries
// every connection from 127.0.0.1:`port` to 127.0.0.1:`back`, and can do to
// all it carries at once what a change of network does.
class Forwarder {
 public:
  Forwarder(std::uint16_t port, std::uint16_t back)
      : log_("/tmp/warden-forwarder-" + std::to_string(getpid()) + "-" + std::to_string(port)),
        child_({"python3", FORWARDER_SCRIPT, "127.0.0.1", std::to_string(port),
                std::to_string(back), "--log", log_}) {
    for (const auto deadline = Clock::now() + std::chrono::seconds(10); Clock::now() < deadline;
         std::this_thread::sleep_for(std::chrono::milliseconds(20))) {
      const int knock = Connect(port);  // a knock that says nothing is not logged
      if (knock >= 0) {
        close(knock);
        break;
      }
    }
  }
  ~Forwarder() { std::remove(log_.c_str()); }
  // Nothing more passes on any connection it carries; nothing is closed.
  void Silence() { Signal(SIGUSR1); }
  // Every connection it carries is reset, both ends.
  void Reset() { Signal(SIGUSR2); }
  // Every connection it carries ends at once with a FIN, both ends.
  void Cut() { Signal(SIGHUP); }
  // Blocked from now on, as a censor blocks a relay's address: what it
  // carries and every connection made afterwards fall silent, or are reset.
  void Block(bool silently) { Signal(silently ? SIGRTMIN : SIGRTMIN + 1); }
  // When each connection it carried was opened (seconds of the wall clock).
  std::vector<double> Opened() const {
    std::ifstream log(log_);
    std::vector<double> times;
    for (double t; log >> t && log.ignore(16, '\n');) {
      times.push_back(t);
    }
    return times;
  }

 private:
  void Signal(int which) {
    kill(child_.Pid(), which);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // acted on between two reads
  }
  std::string log_;
  Child child_;
};

// The tests' own authority: trusted by the agents this process starts
// (OpenSSL reads SSL_CERT_FILE), never by anything else on the machine.
inline void TrustTestAuthority() {
  setenv("SSL_CERT_FILE", TEST_PKI "/ca.pem", 1);
}

// A relay on 127.0.0.1 with Basic authentication, started and stopped by
// tools/relay/relay.sh (the one the Wine tests and the demo use): tinyproxy,
// or Squid, which keeps connections alive and resolves names from `hosts`
// (a hosts file of its own) when one is given. It speaks TLS with the test
// certificate `certificate` names ("relay", "other", "self", "elsewhere";
// empty: clear text); with `record`, the bytes between agent and relay are
// appended to that file. The relay refuses its own network but for `open`
// (the stand-in internet: these tests' servers on 127.0.0.1).
class Relay {
 public:
  struct ClientMode {};
  Relay(std::uint16_t port, const std::string& user, const std::string& token,
        const std::string& kind = "tinyproxy", const std::string& hosts = "",
        const std::string& certificate = "relay", const std::string& record = "",
        const std::string& open = "127.0.0.1 localhost ::1 0:0:0:0:0:0:0:1")
      : state_(MakeFolder()) {
    started_ = Run(Tls(certificate) + (record.empty() ? "" : "RELAY_RECORD='" + record + "' ") +
                   "RELAY_OPEN='" + open + "' " + "bash '" RELAY_SCRIPT "' start '" + state_ +
                   "' 127.0.0.1 " + std::to_string(port) + " '" + user + "' '" + token + "' " +
                   kind + (hosts.empty() ? "" : " '" + hosts + "'"));
  }
  // Only the TLS front, for a server of the test's own on 127.0.0.1:`back`.
  Relay(std::uint16_t port, std::uint16_t back, const std::string& certificate = "relay")
      : state_(MakeFolder()) {
    started_ =
        Run("bash '" RELAY_SCRIPT "' tls '" + state_ + "' 127.0.0.1 " + std::to_string(port) + " " +
            std::to_string(back) + " " + Pem(certificate) + ".pem " + Pem(certificate) + ".key");
  }
  // stunnel's client mode on 127.0.0.1:`port`: clear text in, TLS to the
  // relay on 127.0.0.1:`relay`, verified against the tests' authority.
  Relay(ClientMode, std::uint16_t port, std::uint16_t relay) : state_(MakeFolder()) {
    started_ = Run("bash '" RELAY_SCRIPT "' client '" + state_ + "' " + std::to_string(port) +
                   " 127.0.0.1 " + std::to_string(relay) + " " + Pem("ca") + ".pem");
  }
  ~Relay() { Kill(); }
  Relay(const Relay&) = delete;
  Relay& operator=(const Relay&) = delete;
  bool Started() const { return started_; }
  void Kill() { (void)Run("bash '" RELAY_SCRIPT "' stop '" + state_ + "'"); }

 private:
  static std::string Pem(const std::string& name) { return std::string(TEST_PKI) + "/" + name; }
  static std::string Tls(const std::string& name) {
    return name.empty() ? ""
                        : "RELAY_CERT='" + Pem(name) + ".pem' RELAY_KEY='" + Pem(name) + ".key' ";
  }
  static bool Run(const std::string& command) {
    return std::system((command + " >/dev/null").c_str()) == 0;
  }
  static std::string MakeFolder() {
    char name[] = "/tmp/warden-relay-XXXXXX";
    return mkdtemp(name);
  }
  std::string state_;
  bool started_ = false;
};

#ifdef BROWSER_SCRIPT
// The host's headless Chromium (chromium-fetch.sh) loads `url` through the
// HTTP proxy on 127.0.0.1:`proxy`, this machine's own addresses included;
// the page's DOM as the browser built it (empty when it loaded nothing).
inline std::string BrowseThrough(std::uint16_t proxy, const std::string& url) {
  char name[] = "/tmp/warden-browser-XXXXXX";
  const std::string folder = mkdtemp(name);
  std::ofstream(folder + "/proxy") << "127.0.0.1:" << proxy;
  std::ofstream(folder + "/bypass") << "<-loopback>";
  std::ofstream(folder + "/urls") << "page " << url << "\n";
  (void)std::system(("bash '" BROWSER_SCRIPT "' '" + folder + "' >/dev/null 2>&1").c_str());
  std::ifstream page(folder + "/page.html");
  std::string dom((std::istreambuf_iterator<char>(page)), std::istreambuf_iterator<char>());
  (void)std::system(("rm -rf '" + folder + "'").c_str());
  return dom;
}
#endif

}  // namespace warden::loopback
