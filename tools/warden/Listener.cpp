#include "Listener.h"

#include "ClientOwner.h"
#include "Limits.h"
#include "Status.h"

namespace warden {

asio::error_code ListenLocally(tcp::acceptor& acceptor, std::uint16_t port) {
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

Listener::Listener(asio::io_context& io, tcp::acceptor acceptor, const Options& options,
                   RelayPool& relays, RelayHealth& health)
    : acceptor_(std::move(acceptor)),
      pause_(io),
      health_(health),
      shared_{options,
              relays,
              [&health] { health.Suspect("a connection kept ready was dead or silent"); },
              {}} {
  asio::error_code ignored;
  proxy_ = acceptor_.local_endpoint(ignored);
  PrepareOwnerCheck();
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
    if (!ec && shared_.sessions.Live() >= kMaxClients) {
      asio::error_code ignored;
      client.close(ignored);  // at once: a client left waiting would hold on for nothing
    } else if (!ec && MayServe(client)) {
      health_.ClientArrived();
      std::make_shared<Session>(std::move(client), shared_)->Start();
    }
    Accept();
  });
}

bool Listener::MayServe(tcp::socket& client) {
  const OwnerVerdict verdict = OwnerOf(peer_, proxy_);
  switch (verdict.owner) {
    case Owner::ThisUser:
      return true;
    case Owner::Unknown:
      // Refusing everyone would end the tunnel for its own user too.
      if (!unknownTold_) {
        unknownTold_ = true;
        Status(status::kQuiet,
               "the system does not say whose program a local connection comes "
               "from (" +
                   verdict.who + "): every local program is served");
      }
      return true;
    case Owner::OtherUser: {
      // Told at most once a minute: a program that keeps trying must not
      // flood what Umbrane reads.
      const auto now = std::chrono::steady_clock::now();
      if (refusalTold_ != std::chrono::steady_clock::time_point{} &&
          now - refusalTold_ < kRefusalNoteEvery) {
        ++untoldRefusals_;
      } else {
        Status(status::kRefusedStranger,
               "refused a connection from another user's program (" + verdict.who + ")" +
                   (untoldRefusals_ > 0
                        ? "; " + std::to_string(untoldRefusals_) + " more since the last such note"
                        : ""));
        refusalTold_ = now;
        untoldRefusals_ = 0;
      }
      break;
    }
    case Owner::Gone:
      break;
  }
  asio::error_code ignored;
  client.set_option(asio::socket_base::linger(true, 0), ignored);
  client.close(ignored);
  return false;
}

std::list<Session*>::iterator Sessions::Started(Session* session) {
  ++live_;
  return greeting_.insert(greeting_.end(), session);
}

void Sessions::Greeted(std::list<Session*>::iterator& entry) {
  if (entry != greeting_.end()) {
    greeting_.erase(entry);
    entry = greeting_.end();
  }
}

void Sessions::Ended(std::list<Session*>::iterator& entry) {
  Greeted(entry);
  --live_;
}

bool Sessions::CloseOldestSilent() {
  if (greeting_.empty()) {
    return false;
  }
  greeting_.front()->Evict();
  return true;
}

}  // namespace warden
