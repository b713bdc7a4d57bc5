// One client's session up to its tunnel: the greeting, the relay's
// connection and its answer; then ClientPump.cpp carries the bytes. And the
// sessions alive.
#include "local/ClientSession.h"

#include "relay/ConnectRequest.h"
#include "relay/RelayAnswer.h"

namespace warden {
namespace {

// A CONNECT must be answered by then, from the end of the greeting.
constexpr auto kConnectTimeout = std::chrono::seconds(10);

}  // namespace

Session::Session(tcp::socket client, SessionsShared& shared)
    : client_(std::move(client)),
      timer_(client_.get_executor()),
      shared_(shared),
      entry_(shared.sessions.Started(this)) {}

void Session::Start() {
  // A client that has not said what it wants by then is let go.
  auto self = shared_from_this();
  timer_.expires_after(kGreetingTime);
  timer_.async_wait([self](asio::error_code ec) {
    if (!ec) {
      self->Close();
    }
  });
  ReadHandshake();
}

void Session::Close() {
  asio::error_code ignored;
  closed_ = true;
  timer_.cancel();
  client_.close(ignored);
  if (relay_) {
    relay_->Socket().close(ignored);
  }
  if (auto race = std::move(race_)) {
    race->Abandon();
  }
}

// The relay's side broke off, or ended without TLS's close_notify: what the
// client has may be cut short, so it gets a reset, never a clean end that
// would pass a truncated page for a whole one.
void Session::Reset() {
  asio::error_code ignored;
  client_.set_option(asio::socket_base::linger(true, 0), ignored);
  Close();
}

void Session::Evict() {
  shared_.sessions.Greeted(entry_);
  Close();
}

void Session::ReadHandshake() {
  auto self = shared_from_this();
  if (!greeting_) {
    greeting_ = std::make_unique<std::array<char, 4096>>();
  }
  client_.async_read_some(asio::buffer(*greeting_), [self](asio::error_code ec, std::size_t n) {
    if (ec) {
      // Gone during its greeting: its place and descriptor go now, not
      // when the greeting's time is up.
      self->Close();
      return;
    }
    self->received_.append(self->greeting_->data(), n);
    switch (self->handshake_.Feed(self->received_)) {
      case Handshake::Step::NeedMore:
        self->ReadHandshake();
        break;
      case Handshake::Step::Reply:
        self->SendClient(self->handshake_.Reply(), [self] { self->ReadHandshake(); });
        break;
      case Handshake::Step::Refuse:
        self->SendClient(self->handshake_.Reply(), [self] { self->Close(); });
        break;
      case Handshake::Step::Ready:
        self->shared_.sessions.Greeted(self->entry_);
        self->timer_.cancel();
        self->ConnectRelay(false);
        break;
    }
  });
}

// The first words to the relay: a CONNECT of ours, followed at once by a
// plain-HTTP client's requests for that site (they are the site's, never
// the relay's). A client that has spoken goes before one that has not:
// out of descriptors, the oldest silent client makes room for the relay's
// connection.
void Session::ConnectRelay(bool madeRoom) {
  std::string words;
  bool answerFirst = true;
  const Options& options = shared_.options;
  auto self = shared_from_this();
  // A CONNECT must be answered soon; a page may take as long as a quiet
  // connection is allowed to.
  timer_.expires_after(handshake_.Kind() == Protocol::HttpForward ? kIdleTimeout : kConnectTimeout);
  timer_.async_wait([self](asio::error_code ec) {
    if (!ec) {
      self->Close();
    }
  });
  if (handshake_.Kind() == Protocol::HttpForward) {
    if (!requests_) {
      answers_ = std::make_unique<ResponseStream>();
      requests_ = std::make_unique<RequestStream>(*answers_);
      if (!TakeRequests(received_, flight_)) {
        return;
      }
      std::string().swap(received_);
    }
    words = ConnectRequest(requests_->Site(), options.user, options.token);
    if (!requests_->Connect()) {
      // Words that may not go out twice do not wait for the answer: the
      // request's body follows them at once.
      answerFirst = SafeToRepeat(flight_);
      words += flight_;
    }
  } else {
    words = ConnectRequest(handshake_.TargetHost().Authority(), options.user, options.token);
  }
  race_ =
      RelayRace::Start(shared_.relays, shared_.suspect, std::move(words), answerFirst, answerFirst,
                       [self, madeRoom](asio::error_code ec, std::unique_ptr<RelayChannel> channel,
                                        std::string first) {
                         self->race_.reset();
                         if (self->closed_) {
                           return;
                         }
                         if (ec == asio::error::no_descriptors && !madeRoom &&
                             self->shared_.sessions.CloseOldestSilent()) {
                           self->ConnectRelay(true);
                           return;
                         }
                         if (ec) {
                           self->Fail();
                           return;
                         }
                         self->relay_ = std::move(channel);
                         self->Answered(std::move(first));
                       });
}

void Session::Answered(std::string first) {
  relayIn_ = std::move(first);
  AnswerHead();
}

// The relay's answer to our CONNECT: 200 opens the way for the client. A
// plain-HTTP client's requests went with it; the site's answers follow.
void Session::AnswerHead() {
  auto self = shared_from_this();
  const auto answered = [self](asio::error_code ec, std::size_t headSize) {
    self->timer_.cancel();
    if (self->closed_) {
      return;
    }
    if (ec || headSize == std::string::npos || StatusCode(self->relayIn_).value_or(0) != 200) {
      self->Fail();
      return;
    }
    std::string early = self->relayIn_.substr(headSize);
    if (self->requests_ && !self->requests_->Connect()) {
      self->answers_->Feed(early);
      self->SendClient(std::move(early), [self] {
        self->Splice(false);
        if (!self->movePending_) {
          self->ReadRequests();
        } else if (self->MayMoveOn()) {
          self->MoveOn();
        }
      });
      return;
    }
    // A CONNECT: the client's (the stream's own), or ours for a SOCKS one.
    const std::string payload = self->requests_
                                    ? std::move(self->flight_)
                                    : self->received_.substr(self->handshake_.Consumed());
    const std::string success = self->requests_ ? "HTTP/1.1 200 Connection established\r\n\r\n"
                                                : self->handshake_.Success();
    self->SendClient(success + early,
                     [self, payload] { self->SendRelay(payload, [self] { self->Splice(true); }); });
  };
  if (relayIn_.find("\r\n\r\n") != std::string::npos || relayIn_.size() > kMaxHead) {
    answered({}, AnswerHeadEnd(relayIn_));
    return;
  }
  ReadAnswerHead(*relay_, relayIn_, answered);
}

// A request stream read otherwise than HTTP/1.1 has it: 400, then the end.
void Session::Refuse() {
  auto self = shared_from_this();
  SendClient("HTTP/1.1 400 Bad Request\r\nConnection: close\r\n\r\n", [self] { self->Close(); });
}

void Session::Fail() {
  auto self = shared_from_this();
  SendClient(handshake_.Failure(), [self] { self->Close(); });
}

std::list<Session*>::iterator Sessions::Started(Session* session) {
  ++live_;
  return greeting_.insert(greeting_.end(), session);
}

void Sessions::Greeted(std::list<Session*>::iterator& entry) {
  if (entry != greeting_.end()) {
    greeting_.erase(entry);
    entry = greeting_.end();
  }
}

void Sessions::Ended(std::list<Session*>::iterator& entry) {
  Greeted(entry);
  --live_;
}

bool Sessions::CloseOldestSilent() {
  if (greeting_.empty()) {
    return false;
  }
  greeting_.front()->Evict();
  return true;
}

}  // namespace warden
