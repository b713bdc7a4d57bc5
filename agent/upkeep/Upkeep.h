// The driver of staying up: UpkeepRules' decisions carried out on a world
// it is handed (the clock, one wake-up, the connections kept ready, the
// probes, what to tell). No sockets and no timers of its own, so the very
// loop the agent runs is the one its tests run over virtual time;
// RelayUpkeep gives it the real world (RelayPool, an Asio timer,
// NetworkWatch, the status lines).
#pragma once

#include <cstddef>
#include <functional>

#include "upkeep/UpkeepRules.h"

namespace warden {

class UpkeepWorld {
 public:
  using Clock = UpkeepRules::Clock;
  using Time = UpkeepRules::Time;
  virtual ~UpkeepWorld() = default;

  virtual Time Now() = 0;
  // Wake the driver (Upkeep::Wake) at `when`, instead of any earlier call's.
  virtual void WakeAt(Time when) = 0;
  // Open connections until `count` are kept; close the oldest beyond it
  // (one is always kept). What each open found is told to OpenEnded.
  virtual void KeepReady(std::size_t count) = 0;
  // The age of the oldest connection kept ready; zero with none.
  virtual Clock::duration OldestAge() = 0;
  // Open one connection to see whether the relay answers; it is kept ready
  // when it does. ProbeEnded follows.
  virtual void Probe() = 0;
  // Replace the oldest connection kept ready, when older than `age`.
  virtual void RenewOldest(Clock::duration age) = 0;
  // Close every connection kept ready.
  virtual void Drop() = 0;
  // The relay is lost, or back: once each time.
  virtual void Tell(UpkeepRules::Report report) = 0;
};

class Upkeep {
 public:
  // `random`: a number in [0, 1) at each call.
  Upkeep(UpkeepWorld& world, std::function<double()> random);

  void Start() { Update(); }
  void ClientArrived();
  // The connections kept ready may be dead (a network change, a kept
  // connection outrun or found dead): dropped, and the relay probed at once.
  void Suspect();
  // What an open for a client or for the ready list found.
  void OpenEnded(bool ok);
  void ProbeEnded(bool ok);
  // The wake-up asked for has come.
  void Wake();

 private:
  // What the rules say now: how many to keep, what to tell, when to look.
  void Update();

  UpkeepWorld& world_;
  UpkeepRules rules_;
  UpkeepRules::Time armed_ = UpkeepRules::Time::max();  // the wake-up asked for
};

}  // namespace warden
