// What a local client asks for, read from the first bytes it sends: SOCKS4,
// SOCKS4a, SOCKS5 (no authentication, CONNECT) or an HTTP proxy request
// (CONNECT, or a request with an absolute URI), told apart by the first byte.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace warden {

enum class Protocol { Unknown, Socks4, Socks5, HttpConnect, HttpForward };

struct Target {
  std::string host;  // a name, an IPv4 address, or an IPv6 address without brackets
  std::uint16_t port = 0;
  // host:port as an HTTP CONNECT request names it.
  std::string Authority() const;
};

// A host name or address a client may name: not empty, at most kMaxName
// bytes, no control byte and no space.
bool ValidHost(std::string_view host);

// A token as HTTP/1.1 has it (a method, a field name): no control byte, no
// white space, no separator.
bool Token(std::string_view text);

// A field line of a head or a trailer as HTTP/1.1 has it: a token name (no
// control byte, no white space), a colon, a value without control bytes
// but tab. A line that starts with white space (a folded line) is not.
bool SoundFieldLine(std::string_view line);

class Handshake {
 public:
  enum class Step { NeedMore, Reply, Ready, Refuse };

  // What to do after the client's bytes so far (all of them, accumulated):
  // NeedMore - wait for more; Reply - send `Reply()` and wait for more (the
  // SOCKS5 greeting); Ready - `Target()` is known; Refuse - send `Reply()` (may
  // be empty) and close.
  Step Feed(std::string_view received);

  Protocol Kind() const { return protocol_; }
  const warden::Target& TargetHost() const { return target_; }
  const std::string& Reply() const { return reply_; }
  // Bytes of the input that belong to the request (the rest is payload).
  std::size_t Consumed() const { return consumed_; }
  // For an HTTP request: its head (a request with an absolute URI is sent on).
  const std::string& Head() const { return head_; }

  // The answer to the client once the relay has (or has not) opened the way.
  std::string Success() const;
  std::string Failure() const;

 private:
  Step Socks4(std::string_view in);
  Step Socks5(std::string_view in);
  Step Http(std::string_view in);
  Step Refuse(std::string reply);

  Protocol protocol_ = Protocol::Unknown;
  bool greeted_ = false;
  std::size_t greetingSize_ = 0;
  warden::Target target_;
  std::string reply_;
  std::size_t consumed_ = 0;
  std::string head_;
};

}  // namespace warden
