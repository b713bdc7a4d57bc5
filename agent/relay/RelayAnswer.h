// The relay's answer head (to a CONNECT, or to the credentials check), read
// as it comes and never more than kMaxHead.
#pragma once

#include <array>
#include <string>

#include "common/Limits.h"
#include "tls/RelayChannel.h"

namespace warden {

// Where the head in `head` ends (after its blank line); npos while it has
// not ended, and for a head over the limit.
inline std::size_t AnswerHeadEnd(const std::string& head) {
  const std::size_t end = head.find("\r\n\r\n");
  return end == std::string::npos || end + 4 > kMaxHead ? std::string::npos : end + 4;
}

// Reads into `head` until the head has ended, `done(error, size)` with
// AnswerHeadEnd; npos also when it did not end within the limit. `relay`
// and `head` must live until `done`.
template <typename Done>
void ReadAnswerHead(RelayChannel& relay, std::string& head, Done done) {
  relay.AsyncWaitRead([&relay, &head, done](asio::error_code ec) {
    std::array<char, 4096> chunk;
    const std::size_t n = ec ? 0 : relay.Read(asio::buffer(chunk), ec);
    if (ec == asio::error::would_block) {
      ReadAnswerHead(relay, head, done);
      return;
    }
    head.append(chunk.data(), n);
    if (head.find("\r\n\r\n") == std::string::npos && !ec && head.size() <= kMaxHead) {
      ReadAnswerHead(relay, head, done);
      return;
    }
    done(ec, AnswerHeadEnd(head));
  });
}

}  // namespace warden
