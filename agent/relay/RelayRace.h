// A client's first words to the relay, on a connection that may be dead
// without knowing it. After a network change (or a sleep) the connections
// kept ready are silent: nothing closes them and nothing answers. Silence
// cannot be told from a slow destination by waiting, so the race does not
// wait: when a connection kept ready has not answered within a second, the
// same words go out on a fresh connection too, and whichever answers first
// is used; the other is closed. A kept connection found dead (reset,
// closed, a write that fails) is replaced by a fresh one at once.
//
// Only words that may be sent twice are (`twice`: a CONNECT, or a GET, HEAD
// or OPTIONS without a body); other words wait for their own answer, and
// are sent again only when the first write itself failed. Nothing of an
// answer is passed on before the winner is known, so nothing reaches the
// client twice.
#pragma once

#include <array>
#include <functional>
#include <memory>
#include <string>

#include "relay/RelayPool.h"

namespace warden {

class RelayRace : public std::enable_shared_from_this<RelayRace> {
 public:
  // The winner and the first bytes of its answer (empty when `waitAnswer`
  // is false: then the race ends once the words are written).
  using Won = std::function<void(asio::error_code, std::unique_ptr<RelayChannel>, std::string)>;
  // Told when a kept connection proved dead or silent: the others kept
  // with it are suspect too.
  using Suspect = std::function<void()>;

  static constexpr std::chrono::milliseconds kSilence{1000};

  static std::shared_ptr<RelayRace> Start(RelayPool& pool, Suspect suspect, std::string words,
                                          bool twice, bool waitAnswer, Won won);
  // The client went away: every connection is closed, `won` gets an error.
  void Abandon();

  RelayRace(RelayPool& pool, Suspect suspect, std::string words, bool twice, bool waitAnswer,
            Won won);

 private:
  struct Runner {
    std::unique_ptr<RelayChannel> channel;
    bool kept = false;
    bool written = false;
    bool out = false;  // failed, or lost the race
  };
  void Begin();
  void Second();
  void Send(std::size_t i);
  void Await(std::size_t i);
  void Failed(std::size_t i, asio::error_code ec);
  void Finish(asio::error_code ec, std::size_t i, std::string first);

  RelayPool& pool_;
  Suspect suspect_;
  const std::string words_;  // kept until the race is over: they may go out again
  const bool twice_;
  const bool waitAnswer_;
  Won won_;
  asio::steady_timer silence_;
  std::array<Runner, 2> runners_;
  bool secondStarted_ = false;
  bool secondOpening_ = false;
  bool over_ = false;
};

}  // namespace warden
