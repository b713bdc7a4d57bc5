// Verified TLS connections to the relay, opened on demand or kept ready: a
// client should pay only for its CONNECT, not for the TCP and TLS round
// trips before it. A connection kept ready is used once, by one client,
// and watched while it waits: one the relay closes or resets is dropped at
// once. How many to keep, and when to renew them, Upkeep decides.
// With several relays, every new connection is dialled by RelayChoice's
// rules: the relay in use first, another one beside it when it does not
// answer.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>

#include "tls/RelayChannel.h"
#include "relay/RelayChoice.h"
#include "relay/Relays.h"

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
  // A relay that showed a key or certificate not its own (`index` in the
  // list), and why.
  using Unverified = std::function<void(std::size_t index, const std::string& problem)>;
  // Another relay is in use from now on.
  using Switched = std::function<void(std::size_t index)>;

  static constexpr std::chrono::seconds kOpenTimeout{10};
  static constexpr std::chrono::milliseconds kProbeTimeout{1500};

  RelayPool(asio::io_context& io, Relays relays);
  void OnSeen(Seen seen) { seen_ = std::move(seen); }
  void OnUnverified(Unverified told) { unverified_ = std::move(told); }
  void OnSwitched(Switched told) { switched_ = std::move(told); }
  const Relays& List() const { return relays_; }
  std::size_t InUse() const { return choice_.InUse(); }
  asio::any_io_executor Executor() { return io_.get_executor(); }

  // A new connection: TCP, TLS and the relay verified, each relay tried
  // within `limit`. When none answered: operation_aborted when every one
  // was silent, else the last error of one that was not. Not told to OnSeen: the caller
  // has the outcome.
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
  struct Dial;
  // One relay's attempt; the function returned cancels it.
  std::function<void()> OpenOne(std::size_t index, std::chrono::milliseconds limit, Opened done);
  void Step(const std::shared_ptr<Dial>& dial);
  void Ended(const std::shared_ptr<Dial>& dial, std::size_t index, asio::error_code ec,
             std::unique_ptr<RelayChannel> channel);
  void Fill();
  void Keep(std::unique_ptr<RelayChannel> channel);
  void Watch(std::uint64_t id);
  void Trim();

  asio::io_context& io_;
  const Relays relays_;
  RelayChoice choice_;
  std::deque<Ready> ready_;  // oldest first
  std::size_t wanted_ = 0;
  std::size_t opening_ = 0;
  std::uint64_t nextId_ = 0;
  Seen seen_ = [](bool) {};
  Unverified unverified_ = [](std::size_t, const std::string&) {};
  Switched switched_ = [](std::size_t) {};
};

}  // namespace warden
