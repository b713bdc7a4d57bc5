// Verified TLS connections to the relay, opened on demand or kept ready: a
// client should pay only for its CONNECT, not for the TCP and TLS round
// trips before it. A connection kept ready is used once, by one client.
#pragma once

#include <chrono>
#include <deque>
#include <functional>
#include <memory>

#include "RelayChannel.h"

namespace warden {

class RelayPool {
 public:
  using Opened = std::function<void(asio::error_code, std::unique_ptr<RelayChannel>)>;

  RelayPool(asio::io_context& io, const tcp::endpoint& relay, RelayTrust trust);

  // A new connection: TCP, TLS and the relay verified, within the connect
  // time-out. On failure the channel is still handed over when there was
  // one, for its Problem().
  void Open(Opened done);
  // One kept ready when there is one still good, else a new one; either way
  // the pool is topped up again behind it.
  void Take(Opened done);
  // Opens connections until `ready` are kept (none while it is 0), and
  // replaces them before they grow too old to be trusted.
  void KeepReady(std::size_t ready);

 private:
  struct Ready {
    std::unique_ptr<RelayChannel> channel;
    std::chrono::steady_clock::time_point since;
  };
  void Fill();
  void Renew();

  asio::io_context& io_;
  const tcp::endpoint relay_;
  const RelayTrust trust_;
  asio::steady_timer renew_;
  std::deque<Ready> ready_;
  std::size_t wanted_ = 0;
  std::size_t opening_ = 0;
};

}  // namespace warden
