#include "tunnel/AgentOutput.h"

namespace umbrane {

void AgentOutput::Feed(std::string_view chunk, LineList& lines) {
  for (const char c : chunk) {
    if (c == '\0') {
      continue;  // padding, not text: the line goes on after it
    }
    if (c == '\n' && afterCr_) {
      afterCr_ = false;  // the LF that completes a CR LF split over two reads
      continue;
    }
    afterCr_ = c == '\r';
    if (c == '\r' || c == '\n') {
      lines.Add(std::move(tail_));
      tail_.clear();
    } else {
      tail_ += c;
    }
  }
}

void AgentOutput::Flush(LineList& lines) {
  if (!tail_.empty()) {
    lines.Add(std::move(tail_));
    tail_.clear();
  }
  afterCr_ = false;
}

}  // namespace umbrane
