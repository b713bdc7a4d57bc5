#include "NetworkWatch.h"

#ifdef _WIN32
#include <iphlpapi.h>
#else
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace warden {

NetworkWatch::NetworkWatch(asio::io_context& io, Changed changed)
    : changed_(std::move(changed)),
      tick_(io),
#ifdef _WIN32
      event_(io, CreateEventA(nullptr, FALSE, FALSE, nullptr))
#else
      netlink_(io)
#endif
{
}

NetworkWatch::~NetworkWatch() {
#ifdef _WIN32
  if (notifying_) {
    (void)CancelIPChangeNotify(&overlapped_);  // the event is closed by its owner after
  }
#endif
}

void NetworkWatch::Start() {
  dueSteady_ = std::chrono::steady_clock::now() + kTick;
  dueWall_ = std::chrono::system_clock::now() + kTick;
  Tick();
  WatchSystem();
}

void NetworkWatch::Tick() {
  tick_.expires_at(dueSteady_);
  tick_.async_wait([this](asio::error_code ec) {
    if (ec) {
      return;
    }
    const auto lateSteady = std::chrono::steady_clock::now() - dueSteady_;
    const auto lateWall = std::chrono::system_clock::now() - dueWall_;
    const auto late = std::chrono::duration_cast<std::chrono::seconds>(
        std::max<std::chrono::nanoseconds>(lateSteady, lateWall));
    dueSteady_ = std::chrono::steady_clock::now() + kTick;
    dueWall_ = std::chrono::system_clock::now() + kTick;
    if (late > kLate) {
      changed_("the agent was asleep for about " + std::to_string(late.count()) + " s");
    }
    Tick();
  });
}

#ifdef _WIN32
void NetworkWatch::WatchSystem() {
  overlapped_ = {};
  overlapped_.hEvent = event_.native_handle();
  HANDLE handle = nullptr;
  notifying_ =
      overlapped_.hEvent != nullptr && NotifyAddrChange(&handle, &overlapped_) == ERROR_IO_PENDING;
  if (!notifying_) {
    return;  // no notice from this system: the clock still tells of a sleep
  }
  event_.async_wait([this](asio::error_code ec) {
    notifying_ = false;
    if (ec) {
      return;
    }
    changed_("the network's addresses changed");
    WatchSystem();
  });
}
#else
void NetworkWatch::WatchSystem() {
  if (!netlink_.is_open()) {
    const int fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE);
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    asio::error_code ec;
    if (fd < 0) {
      return;  // no notice from this system: the clock still tells of a sleep
    }
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd);
      return;
    }
    netlink_.assign(asio::generic::raw_protocol(AF_NETLINK, NETLINK_ROUTE), fd, ec);
    if (ec) {
      ::close(fd);
      return;
    }
  }
  netlink_.async_receive(asio::buffer(notice_), [this](asio::error_code ec, std::size_t) {
    // More notices than its buffer holds is a change all the same.
    if (ec && ec != asio::error::no_buffer_space) {
      return;
    }
    changed_("the network's addresses or links changed");
    WatchSystem();
  });
}
#endif

}  // namespace warden
