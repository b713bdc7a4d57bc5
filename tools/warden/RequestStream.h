// The client's side of a kept-alive HTTP proxy connection: a browser sends
// request after request on one connection, each naming any host. Every one
// of them must reach the relay with the credentials, so the stream is cut
// into its requests: a head (rewritten with the credentials), then the body
// the head announces (a length, or chunks), then the next head. A CONNECT
// in the stream turns the rest of it into opaque bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace warden {

class RequestStream {
 public:
  enum class Result { NeedMore, Bad };

  RequestStream(std::string user, std::string token)
      : user_(std::move(user)), token_(std::move(token)) {}

  // Takes what the client sent next and appends to `out` what is to go to
  // the relay. Bytes that cannot be placed yet (half a head, half a chunk
  // size line) are kept for the next call. Bad: the stream is not a proxy
  // request stream (nothing more may go to the relay).
  Result Feed(std::string_view received, std::string& out);

  // After a CONNECT went through: the rest is bytes of the tunnel.
  bool Opaque() const { return state_ == State::Opaque; }

 private:
  enum class State { Head, Length, ChunkSize, ChunkData, ChunkEnd, Trailer, Opaque };
  bool Step(std::string& out, bool& bad);
  bool TakeLine(std::string& line, bool& bad);

  std::string user_;
  std::string token_;
  State state_ = State::Head;
  std::string pending_;          // bytes not yet placed
  unsigned long long left_ = 0;  // of the body or the chunk
};

// How a request head frames its body: its length (0 without one), or
// chunked; false when the head's framing cannot be trusted.
struct BodyFraming {
  bool chunked = false;
  unsigned long long length = 0;
};
bool ReadBodyFraming(std::string_view head, BodyFraming& framing);

// Whether `flight`, the first bytes a client's connection sends to the
// relay, may be sent a second time on another connection: exactly one
// request head, GET, HEAD or OPTIONS, without a body. (A CONNECT of the
// agent's own may be too; anything else could act twice.)
bool SafeToRepeat(std::string_view flight);

}  // namespace warden
