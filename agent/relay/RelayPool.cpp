#include "relay/RelayPool.h"

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

RelayPool::RelayPool(asio::io_context& io, Relays relays)
    : io_(io), relays_(std::move(relays)), choice_(relays_.order) {}

// Attempts to the relays by RelayChoice's rules; the first that answers as
// itself is handed over, the others are cancelled.
struct RelayPool::Dial {
  Dial(asio::io_context& io, DialPlan made, Opened then, std::chrono::milliseconds each)
      : plan(std::move(made)), timer(io), done(std::move(then)), limit(each) {}
  DialPlan plan;
  asio::steady_timer timer;
  Opened done;
  std::chrono::milliseconds limit;
  std::vector<std::function<void()>> cancels;
  asio::error_code last;
  bool allSilent = true;
  bool over = false;
};

void RelayPool::Open(Opened done, std::chrono::milliseconds limit) {
  const auto now = RelayChoice::Clock::now();
  auto dial =
      std::make_shared<Dial>(io_, DialPlan(choice_.Candidates(now), now), std::move(done), limit);
  Step(dial);
}

void RelayPool::Step(const std::shared_ptr<Dial>& dial) {
  for (const std::size_t index : dial->plan.Due(RelayChoice::Clock::now())) {
    dial->cancels.push_back(
        OpenOne(index, dial->limit,
                [this, dial, index](asio::error_code ec, std::unique_ptr<RelayChannel> channel) {
                  Ended(dial, index, ec, std::move(channel));
                }));
  }
  const auto next = dial->plan.NextLook();
  if (next == RelayChoice::Time::max()) {
    return;
  }
  dial->timer.expires_at(next);
  dial->timer.async_wait([this, dial](asio::error_code ec) {
    if (!ec && !dial->over) {
      Step(dial);
    }
  });
}

void RelayPool::Ended(const std::shared_ptr<Dial>& dial, std::size_t index, asio::error_code ec,
                      std::unique_ptr<RelayChannel> channel) {
  if (dial->over) {
    if (channel && !ec) {
      Close(*channel);  // answered second: not needed
    }
    return;
  }
  if (!ec) {
    dial->over = true;
    dial->timer.cancel();
    for (const auto& cancel : dial->cancels) {
      cancel();
    }
    if (choice_.Answered(index)) {
      // The connections kept ready lead to a relay that failed.
      ready_.erase(std::remove_if(ready_.begin(), ready_.end(),
                                  [&](Ready& r) {
                                    if (r.channel->Relay() == index) {
                                      return false;
                                    }
                                    Close(*r.channel);
                                    return true;
                                  }),
                   ready_.end());
      switched_(index);
    }
    const Opened then = std::move(dial->done);
    then({}, std::move(channel));
    return;
  }
  choice_.Failed(index, RelayChoice::Clock::now());
  if (ec == asio::error::access_denied && channel) {
    unverified_(index, channel->Problem());
  }
  dial->allSilent = dial->allSilent && ec == asio::error::operation_aborted;
  if (ec != asio::error::operation_aborted) {
    dial->last = ec;  // what the relays that answered said, not a silent one's time-out
  }
  dial->plan.Failed();
  if (dial->plan.Exhausted()) {
    dial->over = true;
    dial->timer.cancel();
    const Opened then = std::move(dial->done);
    then(dial->allSilent ? asio::error::operation_aborted : dial->last, std::move(channel));
    return;
  }
  Step(dial);
}

std::function<void()> RelayPool::OpenOne(std::size_t index, std::chrono::milliseconds limit,
                                         Opened done) {
  struct Opening {
    Opening(asio::io_context& io, std::unique_ptr<RelayChannel> made, Opened then,
            std::chrono::milliseconds limit)
        : channel(std::move(made)), timer(io, limit), done(std::move(then)) {}
    std::unique_ptr<RelayChannel> channel;
    asio::steady_timer timer;
    Opened done;
  };
  const RelayEntry& relay = relays_.list[index];
  // Not make_shared: the dial's weak handle (to cancel it) must not keep
  // the whole attempt's memory while the connection it made is held.
  std::shared_ptr<Opening> opening(
      new Opening(io_, MakeRelayChannel(io_.get_executor(), RelayTrust{relay.address, relay.pins}),
                  std::move(done), limit));
  opening->channel->SetRelay(index);
  asio::error_code ec;
  const tcp::endpoint endpoint(asio::ip::make_address(relay.address, ec), relay.port);
  if (!ec) {
    opening->channel->Socket().open(endpoint.protocol(), ec);
  }
  if (ec) {
    // Never from within the call: a caller may open again on failure.
    asio::post(io_, [opening, ec] { opening->done(ec, nullptr); });
    return [] {};
  }
  auto finish = [opening](asio::error_code error) {
    opening->timer.cancel();
    if (!opening->done) {
      return;
    }
    const Opened then = std::move(opening->done);
    opening->done = nullptr;
    then(error, std::move(opening->channel));
  };
  opening->timer.async_wait([opening](asio::error_code timerError) {
    if (!timerError && opening->channel) {
      Close(*opening->channel);
    }
  });
  opening->channel->Socket().async_connect(endpoint, [opening, finish](asio::error_code error) {
    if (error) {
      finish(error);
      return;
    }
    opening->channel->AsyncHandshake(finish);
  });
  std::weak_ptr<Opening> weak = opening;
  return [weak] {
    if (const auto still = weak.lock(); still && still->channel) {
      Close(*still->channel);
    }
  };
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
      // A failure is not retried here: Upkeep probes, and the next
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
