// The agent's connection to its relay: TLS, verified before a byte of ours
// is sent on it. The relay's certificate must chain to a root the system
// trusts and name the relay's IP address; or, in a build with a pin, carry
// the pinned public key. There is no clear-text way to the relay.
//
// Two implementations behind this one interface: the system's own TLS on
// Windows (TlsSchannel.cpp), OpenSSL elsewhere (TlsOpenSsl.cpp). Every call
// is made from the io_context's one thread.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include <asio.hpp>

#include "Relay.h"

namespace warden {

using asio::ip::tcp;

// What the relay must prove.
struct RelayTrust {
  std::string address;  // the relay's IP address, as on the command line
  std::string pin;      // base64 SHA-256 of its SubjectPublicKeyInfo, or empty
};

class RelayChannel {
 public:
  using Done = std::function<void(asio::error_code)>;
  virtual ~RelayChannel() = default;

  tcp::socket& Socket() { return socket_; }
  // Why the handshake failed (the relay not verified, say), for the log.
  const std::string& Problem() const { return problem_; }

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
};

std::unique_ptr<RelayChannel> MakeRelayChannel(const asio::any_io_executor& executor,
                                               const RelayTrust& trust);

// The pin this build carries (RelayPin.cpp), or empty.
std::string RelayPin();

// Whether the SHA-256 of a certificate's SubjectPublicKeyInfo is `pin`'s.
inline bool PinMatches(const std::string& pin, std::string_view keySha256) {
  return !pin.empty() && Base64(keySha256) == pin;
}

}  // namespace warden
