#include "RelayPool.h"

#include <algorithm>

namespace warden {
namespace {

// A connection kept ready longer than this is not trusted to be alive
// (a relay or a router in between may have dropped it without a word).
constexpr auto kReadyLifetime = std::chrono::seconds(60);

// What arrived on a connection kept ready: nothing but the TLS layer's own
// records (session tickets) leaves it good.
bool StillGood(RelayChannel& channel) {
  char probe[1];
  asio::error_code ec;
  channel.Read(asio::buffer(probe), ec);
  return ec == asio::error::would_block;
}

void Close(RelayChannel& channel) {
  asio::error_code ignored;
  channel.Socket().close(ignored);
}

}  // namespace

RelayPool::RelayPool(asio::io_context& io, const tcp::endpoint& relay, RelayTrust trust)
    : io_(io), relay_(relay), trust_(std::move(trust)) {}

void RelayPool::Open(Opened done, std::chrono::milliseconds limit) {
  struct Opening {
    Opening(asio::io_context& io, std::unique_ptr<RelayChannel> made, Opened then,
            std::chrono::milliseconds limit)
        : channel(std::move(made)), timer(io, limit), done(std::move(then)) {}
    std::unique_ptr<RelayChannel> channel;
    asio::steady_timer timer;
    Opened done;
  };
  auto opening = std::make_shared<Opening>(io_, MakeRelayChannel(io_.get_executor(), trust_),
                                           std::move(done), limit);
  asio::error_code ec;
  opening->channel->Socket().open(relay_.protocol(), ec);
  if (ec) {
    // Never from within the call: a caller may open again on failure.
    asio::post(io_, [opening, ec] { opening->done(ec, nullptr); });
    return;
  }
  auto finish = [opening](asio::error_code error) {
    opening->timer.cancel();
    const Opened then = std::move(opening->done);
    then(error, std::move(opening->channel));
  };
  opening->timer.async_wait([opening](asio::error_code timerError) {
    if (!timerError && opening->channel) {
      Close(*opening->channel);
    }
  });
  opening->channel->Socket().async_connect(relay_, [opening, finish](asio::error_code error) {
    if (error) {
      finish(error);
      return;
    }
    opening->channel->AsyncHandshake(finish);
  });
}

void RelayPool::Take(Taken done) {
  while (!ready_.empty()) {
    Ready first = std::move(ready_.front());
    ready_.pop_front();
    asio::error_code ignored;
    first.channel->Socket().cancel(ignored);  // its watch ends
    if (std::chrono::steady_clock::now() - first.since < kReadyLifetime &&
        StillGood(*first.channel)) {
      Fill();
      done({}, std::move(first.channel), true);
      return;
    }
    Close(*first.channel);
  }
  TakeNew([done](asio::error_code ec, std::unique_ptr<RelayChannel> channel) {
    done(ec, std::move(channel), false);
  });
  Fill();
}

void RelayPool::TakeNew(Opened done) {
  Open([this, done](asio::error_code ec, std::unique_ptr<RelayChannel> channel) {
    seen_(!ec);
    done(ec, std::move(channel));
  });
}

void RelayPool::KeepReady(std::size_t ready) {
  wanted_ = ready;
  Trim();
  Fill();
}

void RelayPool::Add(std::unique_ptr<RelayChannel> channel) {
  Keep(std::move(channel));
  Trim();
}

void RelayPool::RenewOldest(std::chrono::steady_clock::duration age) {
  if (!ready_.empty() && std::chrono::steady_clock::now() - ready_.front().since > age) {
    Close(*ready_.front().channel);
    ready_.pop_front();
    Fill();
  }
}

void RelayPool::Drop() {
  for (auto& each : ready_) {
    Close(*each.channel);
  }
  ready_.clear();
}

std::chrono::steady_clock::duration RelayPool::OldestAge() const {
  return ready_.empty() ? std::chrono::steady_clock::duration::zero()
                        : std::chrono::steady_clock::now() - ready_.front().since;
}

void RelayPool::Trim() {
  while (ready_.size() > std::max<std::size_t>(wanted_, 1)) {
    Close(*ready_.front().channel);
    ready_.pop_front();
  }
}

void RelayPool::Fill() {
  while (ready_.size() + opening_ < wanted_) {
    ++opening_;
    Open([this](asio::error_code ec, std::unique_ptr<RelayChannel> channel) {
      --opening_;
      // A failure is not retried here: RelayHealth probes, and the next
      // client asks again.
      if (!ec) {
        Keep(std::move(channel));
        Trim();
      }
      seen_(!ec);
    });
  }
}

void RelayPool::Keep(std::unique_ptr<RelayChannel> channel) {
  const std::uint64_t id = nextId_++;
  ready_.push_back({std::move(channel), std::chrono::steady_clock::now(), id});
  Watch(id);
}

// Waits for whatever arrives on a ready connection: TLS's own records are
// taken in passing; an end, a reset or bytes of any other kind drop it.
void RelayPool::Watch(std::uint64_t id) {
  const auto found = [this, id] {
    return std::find_if(ready_.begin(), ready_.end(), [id](const Ready& r) { return r.id == id; });
  };
  found()->channel->AsyncWaitRead([this, id, found](asio::error_code ec) {
    const auto entry = found();
    if (entry == ready_.end()) {
      return;  // taken, renewed or dropped meanwhile
    }
    if (!ec && StillGood(*entry->channel)) {
      Watch(id);
      return;
    }
    Close(*entry->channel);
    ready_.erase(entry);
    seen_(false);
  });
}

}  // namespace warden
