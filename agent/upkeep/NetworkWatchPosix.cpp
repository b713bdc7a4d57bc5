// The system's notice of a change of the network's addresses or links,
// natively: the kernel's routing messages.
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include "upkeep/NetworkWatch.h"

namespace warden {

NetworkWatch::NetworkWatch(asio::io_context& io, Changed changed)
    : changed_(std::move(changed)), tick_(io), netlink_(io) {}

NetworkWatch::~NetworkWatch() = default;

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
}  // namespace warden
