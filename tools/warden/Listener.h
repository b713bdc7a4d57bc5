// The local proxy's listening socket on 127.0.0.1: every client becomes a
// Session, within the limits of Limits.h, and tells RelayHealth that the
// proxy is in use.
#pragma once

#include "RelayHealth.h"
#include "Session.h"

namespace warden {

// Listening on 127.0.0.1:`port` only, or an error.
asio::error_code ListenLocally(tcp::acceptor& acceptor, std::uint16_t port);

class Listener {
 public:
  Listener(asio::io_context& io, tcp::acceptor acceptor, const Options& options, RelayPool& relays,
           RelayHealth& health);
  void Start() { Accept(); }

 private:
  void Accept();

  tcp::acceptor acceptor_;
  asio::steady_timer pause_;
  RelayHealth& health_;
  SessionsShared shared_;
};

}  // namespace warden
