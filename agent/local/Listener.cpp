#include "local/Listener.h"

#include <cstdlib>
#include <thread>

#include "local/ClientOwner.h"
#include "common/Limits.h"
#include "common/Status.h"
#include "tunnel/AgentCommand.h"

namespace warden {

namespace {

// The listening socket Umbrane holds for its agents, named by its handle
// (Windows) or descriptor, when it listens on 127.0.0.1:`port` and nowhere
// else. Natively the acceptor takes it over; on Windows it stays out of the
// acceptor (`handed`): a socket is tied to the first completion port that
// waits on it, which would be the first agent's, so each agent accepts on
// it with a thread of its own instead (Listener).
asio::error_code TakeOver(tcp::acceptor& acceptor, const char* text, std::uint16_t port,
                          HandedSocket& handed) {
  char* end = nullptr;
  const unsigned long long value = std::strtoull(text, &end, 10);
  if (end == text || *end != '\0') {
    return asio::error::bad_descriptor;
  }
  const auto socket = static_cast<tcp::acceptor::native_handle_type>(value);
  const tcp::endpoint expected(asio::ip::make_address_v4("127.0.0.1"), port);
#ifdef _WIN32
  (void)acceptor;
  sockaddr_in at = {};
  int size = sizeof at;
  if (getsockname(socket, reinterpret_cast<sockaddr*>(&at), &size) != 0) {
    return {WSAGetLastError(), asio::system_category()};
  }
  if (at.sin_family != AF_INET || tcp::endpoint(asio::ip::address_v4(ntohl(at.sin_addr.s_addr)),
                                                ntohs(at.sin_port)) != expected) {
    return asio::error::invalid_argument;
  }
  handed = socket;
  return {};
#else
  (void)handed;
  asio::error_code ec;
  acceptor.assign(tcp::v4(), socket, ec);
  if (!ec && acceptor.local_endpoint(ec) != expected && !ec) {
    ec = asio::error::invalid_argument;
  }
  return ec;
#endif
}

}  // namespace

asio::error_code ListenLocally(tcp::acceptor& acceptor, std::uint16_t port, HandedSocket& handed) {
  if (const char* text = std::getenv(umbrane::kListenSocketVariable)) {
    return TakeOver(acceptor, text, port, handed);
  }
  const tcp::endpoint local(asio::ip::make_address_v4("127.0.0.1"), port);
  asio::error_code ec;
  acceptor.open(local.protocol(), ec);
  if (!ec) {
#ifdef _WIN32
    // Windows lets another program bind the same port unless told not to;
    // its closed connections never keep the port from being listened on.
    using ExclusiveUse = asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
    acceptor.set_option(ExclusiveUse(true), ec);
#else
    // The closed connections of heavy use linger on the port for a while:
    // listening again must not wait for them.
    acceptor.set_option(tcp::acceptor::reuse_address(true), ec);
#endif
  }
  if (!ec) {
    acceptor.bind(local, ec);
  }
  if (!ec) {
    acceptor.listen(asio::socket_base::max_listen_connections, ec);
  }
  return ec;
}

Listener::Listener(asio::io_context& io, tcp::acceptor acceptor, HandedSocket handed,
                   const Options& options, RelayPool& relays, RelayUpkeep& health)
    : acceptor_(std::move(acceptor)),
      handed_(handed),
      pause_(io),
      health_(health),
      admissions_(ServesUnnamedClients()),
      shared_{options,
              relays,
              [&health] { health.Suspect("a connection kept ready was dead or silent"); },
              {}} {
  asio::error_code ignored;
  proxy_ = handed_ ? tcp::endpoint(asio::ip::make_address_v4("127.0.0.1"), options.localPort)
                   : acceptor_.local_endpoint(ignored);
  PrepareOwnerCheck();
}

void Listener::Start() {
#ifdef _WIN32
  if (handed_) {
    AcceptOnThread(*handed_);
    return;
  }
#endif
  Accept();
}

#ifdef _WIN32
void Listener::AcceptOnThread(tcp::acceptor::native_handle_type listening) {
  // It blocks in accept for the agent's whole life; each client goes to
  // the agent's own thread, which waits on its socket as on any other.
  std::thread([this, listening] {
    for (;;) {
      sockaddr_in from = {};
      int size = sizeof from;
      const SOCKET accepted = accept(listening, reinterpret_cast<sockaddr*>(&from), &size);
      if (accepted == INVALID_SOCKET) {
        const int error = WSAGetLastError();
        if (error == WSAENOTSOCK || error == WSAEINVAL) {
          return;  // the socket is no more: nothing to accept
        }
        if (error == WSAECONNRESET) {
          continue;  // a client that gave up while it waited
        }
        // Out of descriptors (or memory): as below, room is made.
        if (error == WSAEMFILE || error == WSAENOBUFS) {
          asio::post(pause_.get_executor(), [this] { (void)shared_.sessions.CloseOldestSilent(); });
        }
        std::this_thread::sleep_for(kAcceptPause);
        continue;
      }
      const tcp::endpoint peer(asio::ip::address_v4(ntohl(from.sin_addr.s_addr)),
                               ntohs(from.sin_port));
      asio::post(pause_.get_executor(), [this, accepted, peer] {
        tcp::socket client(pause_.get_executor());
        asio::error_code ec;
        client.assign(tcp::v4(), accepted, ec);
        if (ec) {
          (void)closesocket(accepted);
          return;
        }
        peer_ = peer;
        Serve(std::move(client));
      });
    }
  }).detach();
}
#endif

void Listener::Serve(tcp::socket client) {
  if (shared_.sessions.Live() >= kMaxClients) {
    asio::error_code ignored;
    client.close(ignored);  // at once: a client left waiting would hold on for nothing
  } else if (MayServe(client)) {
    health_.ClientArrived();
    std::make_shared<Session>(std::move(client), shared_)->Start();
  }
}

void Listener::Accept() {
  acceptor_.async_accept(peer_, [this](asio::error_code ec, tcp::socket client) {
    if (ec && ec != asio::error::connection_aborted) {
      // Out of descriptors (or memory): the oldest client that has not
      // said anything yet makes room; with none, accepting waits a moment
      // instead of failing again at once in a loop, and goes on as
      // descriptors free.
      if (shared_.sessions.CloseOldestSilent()) {
        Accept();
      } else {
        pause_.expires_after(kAcceptPause);
        pause_.async_wait([this](asio::error_code) { Accept(); });
      }
      return;
    }
    if (!ec) {
      Serve(std::move(client));
    }
    Accept();
  });
}

bool Listener::MayServe(tcp::socket& client) {
  const Admission admission =
      admissions_.Admit(OwnerOf(peer_, proxy_), std::chrono::steady_clock::now());
  if (admission.code != nullptr) {
    Status(admission.code, admission.text);
  }
  if (admission.serve) {
    return true;
  }
  asio::error_code ignored;
  client.set_option(asio::socket_base::linger(true, 0), ignored);
  client.close(ignored);
  return false;
}

}  // namespace warden
