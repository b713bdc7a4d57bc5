// Tells when the connections to the relay may have lost their path: the
// system's notice of changed addresses or links (NotifyAddrChange on
// Windows, a route netlink socket on Linux), and a clock that jumped: a
// timer due every 2 s that fires far later than due, by the steady or the
// wall clock, means the machine slept (or the agent was frozen) meanwhile.
// Where the system gives no notice, the clock still tells of a sleep.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <string>

#include <asio.hpp>

namespace warden {

class NetworkWatch {
 public:
  using Changed = std::function<void(const std::string& why)>;

  static constexpr std::chrono::seconds kTick{2};
  // Late by more than this: the machine was asleep.
  static constexpr std::chrono::seconds kLate{3};

  NetworkWatch(asio::io_context& io, Changed changed);
  ~NetworkWatch();
  NetworkWatch(const NetworkWatch&) = delete;
  NetworkWatch& operator=(const NetworkWatch&) = delete;

  void Start();

 private:
  void Tick();
  void WatchSystem();

  Changed changed_;
  asio::steady_timer tick_;
  std::chrono::steady_clock::time_point dueSteady_;
  std::chrono::system_clock::time_point dueWall_;
#ifdef _WIN32
  asio::windows::object_handle event_;
  OVERLAPPED overlapped_{};
  bool notifying_ = false;
#else
  asio::generic::raw_protocol::socket netlink_;
  std::array<char, 8192> notice_{};
#endif
};

}  // namespace warden
