// When the agent opens connections to its relay of its own accord, and
// what it says about the relay. No sockets here, only the rules, so they
// can be checked over hours of virtual time:
//
// - While clients come (one within the last minute), 4 verified connections
//   are kept ready and renewed from 30 s of age, the oldest every 5 s: a
//   client pays only for its CONNECT.
// - After a minute without clients, one is kept, and the relay is probed at
//   irregular times, 30 to 48 s apart; the probe's connection becomes the
//   one kept. At most 2 connections a minute, and no fixed period for an
//   onlooker to see; a relay lost while idle is told within a minute.
// - Something suspect (a client's connection that failed, a connection kept
//   ready that died, the network changed, the machine woke) is probed at
//   once; a probe that fails reports the relay lost ("160037"), and it is
//   probed again, 2 s later and then less often, until any connection to it
//   succeeds ("160138").
#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

namespace warden {

class UpkeepRules {
 public:
  using Clock = std::chrono::steady_clock;
  using Time = Clock::time_point;
  enum class Do { Nothing, Probe, RenewOldest };
  enum class Report { None, Lost, Back };

  static constexpr std::size_t kActiveReady = 4;
  static constexpr auto kIdleAfter = std::chrono::seconds(60);
  static constexpr auto kRenewAge = std::chrono::seconds(30);
  static constexpr auto kRenewLook = std::chrono::seconds(5);
  static constexpr auto kIdleProbeMin = std::chrono::seconds(30);
  static constexpr auto kIdleProbeMax = std::chrono::seconds(48);
  static constexpr auto kProbeSpacing = std::chrono::seconds(1);
  static constexpr auto kLostRetryFirst = std::chrono::seconds(2);
  static constexpr auto kLostRetryMost = std::chrono::seconds(20);

  // `random`: a number in [0, 1) at each call.
  UpkeepRules(Time start, std::function<double()> random);

  void ClientArrived(Time now) { lastClient_ = now; }
  // A connection opened for a client or to be kept ready: its outcome (a
  // failure while the relay is known lost changes nothing).
  void OpenEnded(bool ok);
  // Probe at once, lost or not (the network changed, the machine woke).
  void Suspect() { (probing_ ? suspectAgain_ : suspect_) = true; }
  void ProbeEnded(Time now, bool ok);

  // How many connections to keep ready now.
  std::size_t Ready(Time now) const;
  // When Look has something to decide next.
  Time NextLook(Time now) const;
  // What to do now; `oldestReady` is the age of the oldest connection kept
  // ready (zero with none).
  Do Look(Time now, Clock::duration oldestReady);
  // What to tell, once.
  Report TakeReport();

 private:
  bool Active(Time now) const { return now - lastClient_ < kIdleAfter; }
  Clock::duration Between(Clock::duration low, Clock::duration high);
  void Answered();

  std::function<double()> random_;
  Time lastClient_;
  Time lastProbe_;
  Time nextProbe_;
  bool idle_ = false;
  bool probing_ = false;
  bool suspect_ = false;
  bool suspectAgain_ = false;  // while a probe was out: it may predate the change
  bool lost_ = false;
  int failures_ = 0;
  Report report_ = Report::None;
};

}  // namespace warden
