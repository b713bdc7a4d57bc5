// The agent's connection to its relay: TLS, verified before a byte of ours
// is sent on it. In a build with pins (the release's way) the relay's
// certificate must carry one of the pinned public keys, and nothing else
// is consulted (no certificate store; a self-signed certificate will do).
// A build that trusts the system's roots instead wants a certificate that
// chains to one of them and names the relay's IP address. There is no
// clear-text way to the relay.
//
// Two implementations behind this one interface: the system's own TLS on
// Windows (TlsSchannel.cpp), OpenSSL elsewhere (TlsOpenSsl.cpp). Every call
// is made from the io_context's one thread.
#pragma once

#include <algorithm>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <asio.hpp>

#include "common/Base64.h"

namespace warden {

using asio::ip::tcp;

// What the relay must prove. A handshake that fails on it ends with
// access_denied (someone else may be answering); one that is closed, reset
// or never ends is a relay that cannot be reached, not an interception.
struct RelayTrust {
  std::string address;            // the relay's IP address, as on the command line
  std::vector<std::string> pins;  // base64 SHA-256 of its SubjectPublicKeyInfo: any one
};

class RelayChannel {
 public:
  using Done = std::function<void(asio::error_code)>;
  virtual ~RelayChannel() = default;

  tcp::socket& Socket() { return socket_; }
  // Why the handshake failed (the relay not verified, say), for the log.
  const std::string& Problem() const { return problem_; }
  // Which of the agent's relays it leads to (its index in their list).
  std::size_t Relay() const { return relay_; }
  void SetRelay(std::size_t index) { relay_ = index; }

  // Over the connected Socket(): the handshake, then the relay's proof.
  virtual void AsyncHandshake(Done done) = 0;
  // `done` once Read may return bytes or the end.
  virtual void AsyncWaitRead(Done done) = 0;
  // What has arrived, decrypted: would_block when nothing has, eof at the
  // relay's end of sending. Never waits.
  virtual std::size_t Read(asio::mutable_buffer into, asio::error_code& ec) = 0;
  // All of `data`; it must live until `done`.
  virtual void AsyncWrite(asio::const_buffer data, Done done) = 0;
  // Our sending is over: the relay is told, and reading goes on.
  virtual void ShutdownSend() = 0;

 protected:
  explicit RelayChannel(const asio::any_io_executor& executor) : socket_(executor) {}
  tcp::socket socket_;
  std::string problem_;
  std::size_t relay_ = 0;
};

std::unique_ptr<RelayChannel> MakeRelayChannel(const asio::any_io_executor& executor,
                                               const RelayTrust& trust);

// The pins this build carries (RelayPin.cpp): the key in use and any
// backup for its rotation; none in a build that trusts the system's roots.
std::vector<std::string> RelayPins();
std::string BuildRelays();
bool TrustsSystemRoots();

// Whether the SHA-256 of a certificate's SubjectPublicKeyInfo is one of
// `pins`'.
inline bool PinMatches(const std::vector<std::string>& pins, std::string_view keySha256) {
  const std::string digest = Base64(keySha256);
  return keySha256.size() == 32 && std::find(pins.begin(), pins.end(), digest) != pins.end();
}

}  // namespace warden
