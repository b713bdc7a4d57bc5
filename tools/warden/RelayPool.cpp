#include "RelayPool.h"

namespace warden {
namespace {

using namespace std::chrono_literals;

constexpr auto kOpenTimeout = 10s;
// A connection kept ready longer than this is not trusted to be alive
// (a relay or a router in between may have dropped it without a word).
constexpr auto kReadyLifetime = 60s;
// Connections kept ready are replaced from this age on, the oldest one at
// each look, so they age apart and a client after a quiet minute still
// finds one that is neither too old nor being replaced.
constexpr auto kRenewAge = 30s;
constexpr auto kRenewInterval = 5s;

// Whether a connection kept ready is still good: nothing may have arrived
// on it but the TLS layer's own records (session tickets).
bool StillGood(RelayChannel& channel) {
  char probe[1];
  asio::error_code ec;
  channel.Read(asio::buffer(probe), ec);
  return ec == asio::error::would_block;
}

}  // namespace

RelayPool::RelayPool(asio::io_context& io, const tcp::endpoint& relay, RelayTrust trust)
    : io_(io), relay_(relay), trust_(std::move(trust)), renew_(io) {}

void RelayPool::Open(Opened done) {
  struct Opening {
    Opening(asio::io_context& io, std::unique_ptr<RelayChannel> made, Opened then)
        : channel(std::move(made)), timer(io, kOpenTimeout), done(std::move(then)) {}
    std::unique_ptr<RelayChannel> channel;
    asio::steady_timer timer;
    Opened done;
  };
  auto opening =
      std::make_shared<Opening>(io_, MakeRelayChannel(io_.get_executor(), trust_), std::move(done));
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
      asio::error_code ignored;
      opening->channel->Socket().close(ignored);
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

void RelayPool::Take(Opened done) {
  while (!ready_.empty()) {
    Ready first = std::move(ready_.front());
    ready_.pop_front();
    if (std::chrono::steady_clock::now() - first.since < kReadyLifetime &&
        StillGood(*first.channel)) {
      Fill();
      done({}, std::move(first.channel));
      return;
    }
  }
  Open(std::move(done));
  Fill();
}

void RelayPool::KeepReady(std::size_t ready) {
  const bool first = wanted_ == 0 && ready > 0;
  wanted_ = ready;
  Fill();
  if (first) {
    Renew();
  }
}

void RelayPool::Renew() {
  renew_.expires_after(kRenewInterval);
  renew_.async_wait([this](asio::error_code ec) {
    if (ec) {
      return;
    }
    // The oldest is first: they are kept in the order they were opened.
    if (!ready_.empty() && std::chrono::steady_clock::now() - ready_.front().since > kRenewAge) {
      ready_.pop_front();
      Fill();
    }
    Renew();
  });
}

void RelayPool::Fill() {
  while (ready_.size() + opening_ < wanted_) {
    ++opening_;
    Open([this](asio::error_code ec, std::unique_ptr<RelayChannel> channel) {
      --opening_;
      // A failure is not retried here: the next client (or the relay's
      // health check) asks again.
      if (!ec) {
        ready_.push_back({std::move(channel), std::chrono::steady_clock::now()});
      }
    });
  }
}

}  // namespace warden
