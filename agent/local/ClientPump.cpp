// One client's session once its tunnel stands: the bytes carried both ways
// in lent buffers, a kept-alive HTTP client's requests passed on one by
// one, the idle watch, and the end of each direction.
#include "local/BufferPool.h"
#include "local/ClientSession.h"
#include "common/Limits.h"

namespace warden {
namespace {

constexpr auto kIdleCheck = std::chrono::seconds(30);

}  // namespace

// Bytes both ways until both sides have finished; a side that ends its
// sending gets its half-close passed on. The client's side is read as
// proxy requests instead of opaque bytes when `clientOpaque` is false.
void Session::Splice(bool clientOpaque) {
  // What the handshake needed is not kept for the connection's life.
  greeting_.reset();
  std::string().swap(received_);
  std::string().swap(relayIn_);
  lastActivity_ = std::chrono::steady_clock::now();
  WatchIdle();
  asio::error_code ignored;
  client_.non_blocking(true, ignored);
  if (clientOpaque) {
    PumpToRelay();
  }
  PumpFromRelay();
}

// The client's requests: each is passed on as soon as it is known where it
// ends; one for another site waits for the move.
void Session::ForwardRequests(std::string_view received) {
  std::string out;
  if (!TakeRequests(received, out)) {
    return;
  }
  auto self = shared_from_this();
  toRelay_ = true;
  SendRelay(std::move(out), [self] {
    self->toRelay_ = false;
    if (!self->movePending_) {
      self->ReadRequests();
    } else if (self->MayMoveOn()) {
      self->MoveOn();
    }
  });
}

// The next requests of the stream into `out`; false when the stream is bad
// (the client is refused, nothing more goes out).
bool Session::TakeRequests(std::string_view received, std::string& out) {
  switch (requests_->Feed(received, out)) {
    case RequestStream::Result::Bad:
      Refuse();  // not a sound request stream: nothing more of it may go out
      return false;
    case RequestStream::Result::NewSite:
      movePending_ = true;
      return true;
    default:
      return true;
  }
}

// The current site's tunnel may be left: every answer on it is whole, and
// nothing is on its way either way.
bool Session::MayMoveOn() const {
  return movePending_ && answers_->Settled() && !toClient_ && !toRelay_;
}

// The next site gets a tunnel of its own; the last one's is closed (its
// waiting handlers then do nothing).
void Session::MoveOn() {
  movePending_ = false;
  ++tunnel_;
  asio::error_code ignored;
  relay_->Socket().close(ignored);
  left_ = std::move(relay_);
  requests_->MoveOn();
  flight_.clear();
  if (TakeRequests({}, flight_)) {
    ConnectRelay(false);
  }
}

// An answer's bytes reached the client: the next ones, or the next site.
void Session::AnswerPassed() {
  if (MayMoveOn()) {
    MoveOn();
    return;
  }
  PumpFromRelay();
}

// Waits until the client has bytes, then reads them into a buffer lent by
// the pool only until they are written on: a held connection with nothing
// to carry holds no buffer of ours. `got` is called with the bytes.
template <typename Got>
void Session::ReadClient(Got got) {
  auto self = shared_from_this();
  client_.async_wait(tcp::socket::wait_read, [self, got](asio::error_code ec) {
    if (ec) {
      self->Close();
      return;
    }
    std::shared_ptr<PumpBuffer> buffer = LendBuffer();
    asio::error_code readError;
    const std::size_t n = self->client_.read_some(asio::buffer(*buffer), readError);
    if (readError == asio::error::would_block || readError == asio::error::try_again) {
      self->ReadClient(got);
      return;
    }
    if (readError) {
      if (readError == asio::error::eof) {
        self->relay_->ShutdownSend();
        self->DirectionEnded();
      } else {
        self->Close();
      }
      return;
    }
    self->lastActivity_ = std::chrono::steady_clock::now();
    got(std::move(buffer), n);
  });
}

void Session::ReadRequests() {
  auto self = shared_from_this();
  ReadClient([self](std::shared_ptr<PumpBuffer> buffer, std::size_t n) {
    self->ForwardRequests(std::string_view(buffer->data(), n));
  });
}

void Session::PumpToRelay() {
  auto self = shared_from_this();
  ReadClient([self](std::shared_ptr<PumpBuffer> buffer, std::size_t n) {
    self->relay_->AsyncWrite(asio::buffer(buffer->data(), n), [self, buffer](asio::error_code ec) {
      if (ec) {
        self->Close();
        return;
      }
      self->PumpToRelay();
    });
  });
}

void Session::PumpFromRelay() {
  auto self = shared_from_this();
  relay_->AsyncWaitRead([self, tunnel = tunnel_](asio::error_code ec) {
    if (tunnel != self->tunnel_) {
      return;  // a tunnel left for another site's
    }
    if (ec || self->closed_) {
      self->Close();
      return;
    }
    std::shared_ptr<PumpBuffer> buffer = LendBuffer();
    asio::error_code readError;
    const std::size_t n = self->relay_->Read(asio::buffer(*buffer), readError);
    if (readError == asio::error::would_block) {
      self->PumpFromRelay();
      return;
    }
    if (readError) {
      if (readError == asio::error::eof && self->MayMoveOn()) {
        self->MoveOn();  // the site closed after its last answer: the next one's turn
      } else if (readError == asio::error::eof) {
        asio::error_code ignored;
        self->client_.shutdown(tcp::socket::shutdown_send, ignored);
        self->DirectionEnded();
      } else {
        self->Reset();
      }
      return;
    }
    self->lastActivity_ = std::chrono::steady_clock::now();
    if (self->requests_ && !self->requests_->Connect()) {
      self->answers_->Feed(std::string_view(buffer->data(), n));
    }
    self->toClient_ = true;
    asio::async_write(self->client_, asio::buffer(buffer->data(), n),
                      [self, buffer](asio::error_code writeError, std::size_t) {
                        self->toClient_ = false;
                        if (writeError) {
                          self->Close();
                          return;
                        }
                        self->AnswerPassed();
                      });
  });
}

void Session::WatchIdle() {
  auto self = shared_from_this();
  timer_.expires_after(kIdleCheck);
  timer_.async_wait([self](asio::error_code ec) {
    if (ec || !self->client_.is_open()) {
      return;
    }
    if (std::chrono::steady_clock::now() - self->lastActivity_ > kIdleTimeout) {
      self->Close();
      return;
    }
    self->WatchIdle();
  });
}

// One side has ended its sending and the other side has been told; once
// both have, the session is over and both sockets go at once.
void Session::DirectionEnded() {
  if (++directionsEnded_ == 2) {
    Close();
  }
}

}  // namespace warden
