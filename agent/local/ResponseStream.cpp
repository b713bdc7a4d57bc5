#include "local/ResponseStream.h"

#include "local/HttpText.h"
#include "common/Limits.h"
#include "local/RequestStream.h"
#include "relay/ConnectRequest.h"

namespace warden {

bool ResponseStream::TakeUntil(std::string_view& bytes, std::string_view end) {
  const std::size_t held = line_.size();
  // Only the tail of what is held can complete `end` with the new bytes.
  const std::size_t from = held + 1 > end.size() ? held + 1 - end.size() : 0;
  const std::size_t take = std::min(held > kMaxHead ? 0 : kMaxHead + 1 - held, bytes.size());
  line_.append(bytes.data(), take);
  const std::size_t found = line_.find(end, from);
  if (found == std::string::npos) {
    bytes.remove_prefix(take);
    if (line_.size() > kMaxHead) {
      state_ = State::Unframed;  // no sound answer has a head or a line this long
    }
    return false;
  }
  const std::size_t keep = found + end.size();
  bytes.remove_prefix(keep - held);
  line_.resize(keep);
  return true;
}

void ResponseStream::Answered(const std::string& head) {
  const int status = StatusCode(head).value_or(0);
  if (status == 101 || status < 100 || expected_.empty()) {
    state_ = State::Unframed;  // another protocol, or not an answer at all
    return;
  }
  if (status < 200) {
    return;  // an interim answer: the real one follows
  }
  const bool toHead = expected_.front();
  expected_.pop_front();
  BodyFraming framing;
  if (toHead || status == 204 || status == 304) {
    state_ = State::Head;
  } else if (!ReadBodyFraming(head, framing) || (!framing.chunked && !framing.sized)) {
    state_ = State::Unframed;  // it ends when the site closes
  } else if (framing.chunked) {
    state_ = State::ChunkSize;
  } else {
    left_ = framing.length;
    state_ = left_ > 0 ? State::Length : State::Head;
  }
}

void ResponseStream::Feed(std::string_view bytes) {
  while (!bytes.empty() && state_ != State::Unframed) {
    switch (state_) {
      case State::Head:
        if (TakeUntil(bytes, "\r\n\r\n")) {
          const std::string head = std::move(line_);
          line_.clear();
          Answered(head);
        }
        break;
      case State::Length:
      case State::ChunkData: {
        const auto take = std::min<unsigned long long>(left_, bytes.size());
        bytes.remove_prefix(static_cast<std::size_t>(take));
        left_ -= take;
        if (left_ == 0) {
          state_ = state_ == State::Length ? State::Head : State::ChunkEnd;
        }
        break;
      }
      case State::ChunkSize:
        if (TakeUntil(bytes, "\r\n")) {
          std::string_view size = std::string_view(line_).substr(0, line_.find_first_of(";\r"));
          size = Trim(size);
          if (!ParseNumber(size, 16, left_)) {
            state_ = State::Unframed;
            break;
          }
          line_.clear();
          state_ = left_ == 0 ? State::Trailer : State::ChunkData;
        }
        break;
      case State::ChunkEnd:
        if (TakeUntil(bytes, "\r\n")) {
          state_ = line_ == "\r\n" ? State::ChunkSize : State::Unframed;
          line_.clear();
        }
        break;
      case State::Trailer:
        if (TakeUntil(bytes, "\r\n")) {
          state_ = line_ == "\r\n" ? State::Head : State::Trailer;
          line_.clear();
        }
        break;
      case State::Unframed:
        break;
    }
  }
}

}  // namespace warden
