// Verified TLS connections to the relay, opened on demand or kept ready: a
// client should pay only for its CONNECT, not for the TCP and TLS round
// trips before it. A connection kept ready is used once, by one client,
// and watched while it waits: one the relay closes or resets is dropped at
// once. How many to keep, and when to renew them, RelayHealth decides.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "RelayChannel.h"

namespace warden {

class RelayPool {
 public:
  using Opened = std::function<void(asio::error_code, std::unique_ptr<RelayChannel>)>;
  // `kept`: the connection had been kept ready, so it may have died unseen
  // (a network change leaves it silent).
  using Taken = std::function<void(asio::error_code, std::unique_ptr<RelayChannel>, bool kept)>;
  // What the pool saw of the relay on its own: `ok` after an open of a
  // client's or for the ready list, false too for a ready one that died.
  using Seen = std::function<void(bool ok)>;

  static constexpr std::chrono::seconds kOpenTimeout{10};
  static constexpr std::chrono::milliseconds kProbeTimeout{1500};

  RelayPool(asio::io_context& io, const tcp::endpoint& relay, RelayTrust trust);
  void OnSeen(Seen seen) { seen_ = std::move(seen); }
  asio::any_io_executor Executor() { return io_.get_executor(); }

  // A new connection: TCP, TLS and the relay verified, within `limit`. On
  // failure the channel is still handed over when there was one, for its
  // Problem(). Not told to OnSeen: the caller has the outcome.
  void Open(Opened done, std::chrono::milliseconds limit = kOpenTimeout);
  // One kept ready when there is one still good, else a new one; either way
  // the ready list is topped up again behind it.
  void Take(Taken done);
  // A new one for a client, told to OnSeen.
  void TakeNew(Opened done);
  // Opens connections until `ready` are kept; closes the oldest beyond it.
  void KeepReady(std::size_t ready);
  // A connection opened elsewhere (a probe's) joins the ready list.
  void Add(std::unique_ptr<RelayChannel> channel);
  // The oldest ready connection, when older than `age`, is replaced.
  void RenewOldest(std::chrono::steady_clock::duration age);
  // Every connection kept ready is closed (opened on a network that may be
  // gone).
  void Drop();
  std::chrono::steady_clock::duration OldestAge() const;

 private:
  struct Ready {
    std::unique_ptr<RelayChannel> channel;
    std::chrono::steady_clock::time_point since;
    std::uint64_t id;
  };
  void Fill();
  void Keep(std::unique_ptr<RelayChannel> channel);
  void Watch(std::uint64_t id);
  void Trim();

  asio::io_context& io_;
  const tcp::endpoint relay_;
  const RelayTrust trust_;
  std::deque<Ready> ready_;  // oldest first
  std::size_t wanted_ = 0;
  std::size_t opening_ = 0;
  std::uint64_t nextId_ = 0;
  Seen seen_ = [](bool) {};
};

}  // namespace warden
