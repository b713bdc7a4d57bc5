#include "relay/RelayRace.h"

namespace warden {

std::shared_ptr<RelayRace> RelayRace::Start(RelayPool& pool, Suspect suspect, std::string words,
                                            bool twice, bool waitAnswer, Won won) {
  auto race = std::make_shared<RelayRace>(pool, std::move(suspect), std::move(words), twice,
                                          waitAnswer, std::move(won));
  race->Begin();
  return race;
}

RelayRace::RelayRace(RelayPool& pool, Suspect suspect, std::string words, bool twice,
                     bool waitAnswer, Won won)
    : pool_(pool),
      suspect_(std::move(suspect)),
      words_(std::move(words)),
      twice_(twice),
      waitAnswer_(waitAnswer),
      won_(std::move(won)),
      silence_(pool.Executor()) {}

void RelayRace::Begin() {
  auto self = shared_from_this();
  pool_.Take([self](asio::error_code ec, std::unique_ptr<RelayChannel> channel, bool kept) {
    if (self->over_) {
      return;
    }
    if (ec) {
      self->Finish(ec, 0, {});
      return;
    }
    self->runners_[0] = {std::move(channel), kept};
    self->Send(0);
    if (kept && self->twice_ && self->waitAnswer_) {
      self->silence_.expires_after(kSilence);
      self->silence_.async_wait([self](asio::error_code timerError) {
        if (!timerError && !self->over_) {
          self->Second();
        }
      });
    }
  });
}

// The same words on a fresh connection.
void RelayRace::Second() {
  if (secondStarted_) {
    return;
  }
  secondStarted_ = secondOpening_ = true;
  auto self = shared_from_this();
  pool_.TakeNew([self](asio::error_code ec, std::unique_ptr<RelayChannel> channel) {
    self->secondOpening_ = false;
    if (self->over_) {
      return;
    }
    if (ec) {
      self->runners_[1].out = true;
      self->Failed(1, ec);
      return;
    }
    self->runners_[1].channel = std::move(channel);
    self->Send(1);
  });
}

void RelayRace::Send(std::size_t i) {
  auto self = shared_from_this();
  runners_[i].channel->AsyncWrite(asio::buffer(words_), [self, i](asio::error_code ec) {
    if (self->over_ || self->runners_[i].out) {
      return;
    }
    if (ec) {
      self->Failed(i, ec);
      return;
    }
    self->runners_[i].written = true;
    if (!self->waitAnswer_) {
      self->Finish({}, i, {});
      return;
    }
    self->Await(i);
  });
}

void RelayRace::Await(std::size_t i) {
  auto self = shared_from_this();
  runners_[i].channel->AsyncWaitRead([self, i](asio::error_code ec) {
    if (self->over_ || self->runners_[i].out) {
      return;
    }
    std::array<char, 4096> chunk;  // on the stack: a held connection keeps only what came
    const std::size_t n = ec ? 0 : self->runners_[i].channel->Read(asio::buffer(chunk), ec);
    if (ec == asio::error::would_block) {
      self->Await(i);  // TLS's own records only
      return;
    }
    if (ec) {
      self->Failed(i, ec);
      return;
    }
    std::string first(chunk.data(), n);
    if (i == 1 && self->runners_[0].kept) {
      self->suspect_();  // a kept connection was outrun by a fresh one: it was silent
    }
    self->Finish({}, i, std::move(first));
  });
}

void RelayRace::Failed(std::size_t i, asio::error_code ec) {
  Runner& runner = runners_[i];
  runner.out = true;
  if (runner.channel) {
    asio::error_code ignored;
    runner.channel->Socket().close(ignored);
  }
  // A kept connection that failed before any answer had died unseen: its
  // words go out again on a fresh one, if they may (or never left).
  if (i == 0 && runner.kept) {
    suspect_();
    if (twice_ || !runner.written) {
      Second();
    }
  }
  const bool otherRuns = i == 0 ? secondStarted_ && (secondOpening_ || !runners_[1].out)
                                : runners_[0].channel && !runners_[0].out;
  if (!otherRuns) {
    Finish(ec, i, {});
  }
}

void RelayRace::Finish(asio::error_code ec, std::size_t i, std::string first) {
  if (over_) {
    return;
  }
  over_ = true;
  silence_.cancel();
  std::unique_ptr<RelayChannel> winner;
  if (!ec) {
    winner = std::move(runners_[i].channel);
  }
  for (auto& runner : runners_) {
    if (runner.channel) {
      asio::error_code ignored;
      runner.channel->Socket().close(ignored);  // kept until the race object goes
    }
  }
  const Won won = std::move(won_);
  won(ec, std::move(winner), std::move(first));
}

void RelayRace::Abandon() {
  Finish(asio::error::operation_aborted, 0, {});
}

}  // namespace warden
