// The client's side of a kept-alive HTTP proxy connection: a browser sends
// request after request on one connection, each naming any host. A relay
// that is an ordinary HTTP proxy reads such a stream its own way (one
// passes every byte after the first head on to the first site), so plain
// HTTP never reaches it as such: each site (host and port) gets a tunnel of
// its own through the relay (a CONNECT with the credentials, made by the
// session), and the site's requests travel inside it as a site expects
// them, without anything meant for the relay. The stream is cut into its
// requests: a head (rewritten for the site), then the body the head
// announces (a length, or chunks), then the next head; the stream stops
// before a head for another site until the session has moved on. A CONNECT
// in the stream is a site of its own, and the rest of the stream is opaque
// bytes of it.
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>

namespace warden {

class ResponseStream;

class RequestStream {
 public:
  enum class Result { NeedMore, Bad, NewSite };

  // Each request passed on is announced to `answers`, which reads the
  // site's answers.
  explicit RequestStream(ResponseStream& answers) : answers_(answers) {}

  // Takes what the client sent next and appends to `out` what is to go to
  // the current site. Bytes that cannot be placed yet (half a head, half a
  // chunk size line) are kept for the next call. Bad: the stream is not a
  // proxy request stream (nothing more may go out). NewSite: the next
  // request is for another site; nothing more goes out until `MoveOn`.
  Result Feed(std::string_view received, std::string& out);
  // The held request's site becomes the current one; Feed goes on with it.
  void MoveOn();

  // The current site as "host:port", and whether the client asked for a
  // tunnel to it itself (CONNECT): then the rest is bytes of the tunnel.
  const std::string& Site() const { return site_; }
  bool Connect() const { return connect_; }

 private:
  enum class State { Head, Length, ChunkSize, ChunkData, ChunkEnd, Trailer, Opaque };
  bool Step(std::string& out, bool& bad, bool& newSite);
  bool TakeLine(std::string& line, bool& bad);

  ResponseStream& answers_;
  State state_ = State::Head;
  std::string site_;
  bool connect_ = false;
  std::string next_;  // the held request's site
  bool nextConnect_ = false;
  std::string pending_;          // bytes not yet placed
  unsigned long long left_ = 0;  // of the body or the chunk
};

// `head`, a proxy request with an absolute URI for `site`, as the site
// itself expects it: the path alone, Host naming the site, and nothing
// meant for a proxy (Proxy-Authorization, Proxy-Connection).
std::string ForSite(std::string_view head, const std::string& site);

// How a request head frames its body: its length (0 without one), or
// chunked; false when the head's framing cannot be trusted.
struct BodyFraming {
  bool chunked = false;
  bool sized = false;  // a length was given
  unsigned long long length = 0;
};
bool ReadBodyFraming(std::string_view head, BodyFraming& framing);

// Whether `flight`, the first bytes a client's connection sends to the
// relay, may be sent a second time on another connection: exactly one
// request head, GET, HEAD or OPTIONS, without a body. (A CONNECT of the
// agent's own may be too; anything else could act twice.)
bool SafeToRepeat(std::string_view flight);

}  // namespace warden
