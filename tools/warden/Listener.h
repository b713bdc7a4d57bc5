// The local proxy's listening socket on 127.0.0.1: every client of this
// user's becomes a Session, within the limits of Limits.h, and tells
// RelayHealth that the proxy is in use. Another user's program is closed
// before it can say anything (ClientOwner.h).
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
  // Whether `client` may be served; what is not is closed and told.
  bool MayServe(tcp::socket& client);

  tcp::acceptor acceptor_;
  tcp::endpoint proxy_;  // where the clients connect
  tcp::endpoint peer_;   // the last accepted client's end, as accept gave it
  asio::steady_timer pause_;
  RelayHealth& health_;
  SessionsShared shared_;
  bool unknownTold_ = false;  // the system could not name a client's owner
  std::chrono::steady_clock::time_point refusalTold_{};
  unsigned untoldRefusals_ = 0;  // since the last note
};

}  // namespace warden
