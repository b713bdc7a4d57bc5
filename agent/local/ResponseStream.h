#pragma once

#include <deque>
#include <string>
#include <string_view>

namespace warden {

// A site's answers inside its tunnel, read as they pass to the client, only
// so far as to know when every request sent has its whole answer: then the
// tunnel may be left for another site's. An answer whose end only the
// site's closing tells (no length, a switch of protocols, framing that
// cannot be trusted) never settles: the client connection ends with it.
class ResponseStream {
 public:
  // A request went out; `head`: it was a HEAD (its answer has no body).
  void Expect(bool head) { expected_.push_back(head); }
  void Feed(std::string_view bytes);
  // Every request sent has its whole answer, and nothing more came.
  bool Settled() const { return state_ == State::Head && expected_.empty() && line_.empty(); }

 private:
  enum class State { Head, Length, ChunkSize, ChunkData, ChunkEnd, Trailer, Unframed };
  // Takes bytes into line_ up to and with `end`; false while it has not come.
  bool TakeUntil(std::string_view& bytes, std::string_view end);
  void Answered(const std::string& head);

  std::deque<bool> expected_;
  State state_ = State::Head;
  std::string line_;
  unsigned long long left_ = 0;
};

}  // namespace warden
