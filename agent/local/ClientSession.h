// One client of the local proxy: its greeting read (Handshake), its first
// words to the relay raced against silence (RelayRace), then bytes both
// ways until both sides have finished. A plain-HTTP client's side is read
// as the stream of requests it is (RequestStream): each site gets a tunnel
// of its own through the relay, and a request for another site waits until
// the answers on the current tunnel are whole (ResponseStream), then takes
// a new one.
#pragma once

#include <array>
#include <chrono>
#include <list>
#include <memory>
#include <string>

#include "local/Handshake.h"
#include "common/Options.h"
#include "relay/RelayRace.h"
#include "local/RequestStream.h"
#include "local/ResponseStream.h"

namespace warden {

class Session;

// The sessions alive, and those whose client has not yet finished its
// greeting, oldest first: when the system runs out of descriptors the
// oldest silent client makes room for the next one.
class Sessions {
 public:
  std::size_t Live() const { return live_; }
  std::list<Session*>::iterator Started(Session* session);
  void Greeted(std::list<Session*>::iterator& entry);
  void Ended(std::list<Session*>::iterator& entry);
  // Closes the oldest session still waiting for its client; false when
  // there is none.
  bool CloseOldestSilent();

 private:
  std::size_t live_ = 0;
  std::list<Session*> greeting_;
};

// What every session shares: the command line, the relay, the sessions.
struct SessionsShared {
  const Options& options;
  RelayPool& relays;
  RelayRace::Suspect suspect;  // a kept connection proved dead or silent
  Sessions sessions;
};

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket client, SessionsShared& shared);
  ~Session() { shared_.sessions.Ended(entry_); }
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  void Start();
  void Close();
  // Makes room: its descriptor is free at once, and the session ends when
  // its handlers have run.
  void Evict();

 private:
  void Reset();
  void ReadHandshake();
  void ConnectRelay(bool madeRoom);
  void Answered(std::string first);
  void AnswerHead();
  void Fail();
  void Refuse();
  template <typename Then>
  void SendClient(std::string data, Then then);
  template <typename Then>
  void SendRelay(std::string data, Then then);
  template <typename Then, typename Write>
  void Send(std::string data, Then then, Write write);
  void Splice(bool clientOpaque);
  void ForwardRequests(std::string_view received);
  bool TakeRequests(std::string_view received, std::string& out);
  bool MayMoveOn() const;
  void MoveOn();
  void AnswerPassed();
  template <typename Got>
  void ReadClient(Got got);
  void ReadRequests();
  void PumpToRelay();
  void PumpFromRelay();
  void WatchIdle();
  void DirectionEnded();

  tcp::socket client_;
  std::unique_ptr<RelayChannel> relay_;
  std::unique_ptr<RelayChannel> left_;  // the last site's, closed: kept until its handlers ran
  std::shared_ptr<RelayRace> race_;     // until the relay has answered
  asio::steady_timer timer_;
  SessionsShared& shared_;
  Handshake handshake_;
  std::unique_ptr<ResponseStream> answers_;  // a plain HTTP client's answers
  std::unique_ptr<RequestStream> requests_;  // and requests
  std::string flight_;                       // the requests for a site's tunnel, until it is open
  std::unique_ptr<std::array<char, 4096>> greeting_;  // only until the handshake is done
  std::string received_;
  std::string relayIn_;
  std::chrono::steady_clock::time_point lastActivity_;
  std::list<Session*>::iterator entry_;  // among the sessions still greeting
  int directionsEnded_ = 0;
  unsigned tunnel_ = 0;       // counts the sites' tunnels: a left one's handlers do nothing
  bool movePending_ = false;  // a request for another site waits
  bool toClient_ = false;     // an answer's bytes are being written to the client
  bool toRelay_ = false;      // requests are being written to the relay
  bool closed_ = false;
};

// The writes every part of a session makes (templates: each caller's
// continuation is its own type).
template <typename Then>
void Session::SendClient(std::string data, Then then) {
  Send(std::move(data), then, [this](asio::const_buffer bytes, RelayChannel::Done done) {
    asio::async_write(client_, bytes, [done](asio::error_code ec, std::size_t) { done(ec); });
  });
}

template <typename Then>
void Session::SendRelay(std::string data, Then then) {
  Send(std::move(data), then, [this](asio::const_buffer bytes, RelayChannel::Done done) {
    relay_->AsyncWrite(bytes, std::move(done));
  });
}

// `data` through `write`, kept alive until written, then `then`; a write
// that fails ends the session.
template <typename Then, typename Write>
void Session::Send(std::string data, Then then, Write write) {
  if (data.empty()) {
    then();
    return;
  }
  auto self = shared_from_this();
  auto owned = std::make_shared<std::string>(std::move(data));
  write(asio::buffer(*owned), [self, owned, then](asio::error_code ec) {
    if (ec) {
      self->Close();
      return;
    }
    then();
  });
}

}  // namespace warden
