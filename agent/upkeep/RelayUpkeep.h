// Staying up on the real world: Upkeep driven by an Asio timer, by what
// RelayPool sees, by the clients' arrivals and by NetworkWatch. It prints
// "160037" when no relay answers and "160138" when one answers again
// (Umbrane shows busy, then on; the browsers stay on the local proxy
// throughout, so nothing ever goes around the relays), "160244" once when a
// relay shows a key not its own, and keeps the relay in use for the next
// run.
#pragma once

#include <random>
#include <string>

#include "relay/RelayPool.h"
#include "upkeep/NetworkWatch.h"
#include "upkeep/Upkeep.h"

namespace warden {

class RelayUpkeep final : public UpkeepWorld {
 public:
  // Told by the pool from now on; Start() begins the looks.
  RelayUpkeep(asio::io_context& io, RelayPool& pool);

  void Start();
  void ClientArrived() { upkeep_.ClientArrived(); }
  // The connections kept ready may be dead: `why`, for whoever reads the
  // agent's output.
  void Suspect(const std::string& why);

  Time Now() override { return Clock::now(); }
  void WakeAt(Time when) override;
  void KeepReady(std::size_t count) override { pool_.KeepReady(count); }
  Clock::duration OldestAge() override { return pool_.OldestAge(); }
  void Probe() override;
  void RenewOldest(Clock::duration age) override { pool_.RenewOldest(age); }
  void Drop() override { pool_.Drop(); }
  void Tell(UpkeepRules::Report report) override;

 private:
  RelayPool& pool_;
  std::minstd_rand random_;
  asio::steady_timer wake_;
  Upkeep upkeep_;
  NetworkWatch network_;
  bool unverifiedTold_ = false;  // since a relay last came back
};

}  // namespace warden
