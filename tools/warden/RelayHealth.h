// The relays' health and the connections kept ready, on the io_context:
// RelayKeeper's rules driven by one timer, by what the pool sees, by the
// clients' arrivals and by NetworkWatch. It prints "160037" when no relay
// answers and "160138" when one answers again (Umbrane shows busy, then on;
// the browsers stay on the local proxy throughout, so nothing ever goes
// around the relays), "160244" once when a relay shows a key not its own,
// and keeps the relay in use for the next run.
#pragma once

#include <random>
#include <string>

#include "NetworkWatch.h"
#include "RelayKeeper.h"
#include "RelayPool.h"

namespace warden {

class RelayHealth {
 public:
  // Told by the pool from now on; Start() begins the looks.
  RelayHealth(asio::io_context& io, RelayPool& pool);

  void Start();
  void ClientArrived();
  // The connections kept ready may be dead (a network change, a kept
  // connection outrun or found dead): they are dropped, and the relay is
  // probed at once.
  void Suspect(const std::string& why);

 private:
  void Update();
  void Look();

  RelayPool& pool_;
  std::minstd_rand random_;
  RelayKeeper keeper_;
  asio::steady_timer look_;
  RelayKeeper::Time armed_ = RelayKeeper::Time::max();  // when look_ fires
  NetworkWatch network_;
  bool unverifiedTold_ = false;  // since a relay last came back
};

}  // namespace warden
