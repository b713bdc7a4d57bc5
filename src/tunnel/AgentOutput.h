// Turns the agent's output, as it arrives in reads of any size, into whole
// lines. A line whose bytes come in two reads stays one line: the tail
// without a line end waits for the rest, and a CR ending one read with LF
// starting the next is one line end.
#pragma once

#include <string>
#include <string_view>

#include "base/LineList.h"

namespace umbrane {

class AgentOutput {
 public:
  // Adds the complete lines of `chunk` to `lines`. A NUL byte is dropped:
  // it neither ends the line nor hides what follows it.
  void Feed(std::string_view chunk, LineList& lines);
  // The agent has ended: a tail still waiting becomes a line of its own.
  void Flush(LineList& lines);

 private:
  std::string tail_;
  bool afterCr_ = false;  // the last byte seen was a CR
};

}  // namespace umbrane
