// The agent's only channel to Umbrane: one line per event on standard
// output, "CODE text" and CR LF, flushed at once (Umbrane reads the pipe
// once a second and acts on the code).
#pragma once

#include <string>

#include "tunnel/StatusCodes.h"

namespace warden {

namespace status = umbrane::status;

void Status(const char* code, const std::string& text);

// A failure that stops the agent: its own code, then "160033", which makes
// Umbrane end the agent and try again (or ask the user), and then silence
// until it is terminated.
[[noreturn]] void Stop(const char* code, const std::string& text);

}  // namespace warden
