// The local proxy's listening socket on 127.0.0.1: every client of this
// user's becomes a Session, within the limits of Limits.h, and tells
// Upkeep that the proxy is in use. Another user's program is closed
// before it can say anything, as is one whose owner the system cannot
// name (Admission.h, ClientOwner.h).
#pragma once

#include <optional>

#include "local/Admission.h"
#include "upkeep/RelayUpkeep.h"
#include "local/ClientSession.h"

namespace warden {

// Listening on 127.0.0.1:`port` only, or an error: on the socket Umbrane
// holds for its agents when it hands one over (so that the port is never
// free between two agents), else on one of the agent's own.
// On Windows the socket handed over, accepted on outside the acceptor.
using HandedSocket = std::optional<tcp::acceptor::native_handle_type>;
asio::error_code ListenLocally(tcp::acceptor& acceptor, std::uint16_t port, HandedSocket& handed);

class Listener {
 public:
  Listener(asio::io_context& io, tcp::acceptor acceptor, HandedSocket handed,
           const Options& options, RelayPool& relays, RelayUpkeep& health);
  void Start();

 private:
  void Accept();
#ifdef _WIN32
  void AcceptOnThread(tcp::acceptor::native_handle_type listening);
#endif
  // A client accepted: served, or closed when there are too many or it is
  // not this user's.
  void Serve(tcp::socket client);
  // Whether `client` may be served; what is not is closed and told.
  bool MayServe(tcp::socket& client);

  tcp::acceptor acceptor_;
  HandedSocket handed_;
  tcp::endpoint proxy_;  // where the clients connect
  tcp::endpoint peer_;   // the last accepted client's end, as accept gave it
  asio::steady_timer pause_;
  RelayUpkeep& health_;
  Admissions admissions_;
  SessionsShared shared_;
};

}  // namespace warden
