// What each agent status code makes the program do, in one place: the
// activity-log text it writes (none: the event writes its own, or the code
// is a quiet note) and the event the controller acts on. A code that is
// not listed is logged as it stands.
#pragma once

#include <string_view>

#include "tunnel/StatusCodes.h"

namespace umbrane {

enum class AgentEvent {
  None,             // only the log line
  Connected,        // the relay accepted the credentials
  IdentifyFailed,   // refused, or a relay that did not prove itself
  RelayLost,        // busy until a relay is back
  Ready,            // the browsers to the tunnel
  CannotConnect,    // the failure procedure
  UpdateError,      // the update error box and status
  RefusedStranger,  // a client refused: logged by kind
};

struct StatusLine {
  const char* code;
  const char* log;  // nullptr: nothing logged for the code itself
  AgentEvent event;
};

inline constexpr StatusLine kStatusLines[] = {
    {status::kSearching, "Searching Internet", AgentEvent::None},
    {status::kConnecting, "Connecting to Internet", AgentEvent::None},
    {status::kIdentifying, "Identifying", AgentEvent::None},
    {status::kIdentifyingToo, "Identifying", AgentEvent::None},
    {status::kConnected, "Connected to Internet", AgentEvent::Connected},
    {status::kTimedOut, "Connection time out", AgentEvent::None},
    {status::kMissionFailed, "Mission failed", AgentEvent::None},
    {status::kIdentifyFailed, "Identify failed", AgentEvent::IdentifyFailed},
    {status::kDisconnected, "Disconnected from Internet", AgentEvent::RelayLost},
    {status::kReady, nullptr, AgentEvent::Ready},
    {status::kCannotConnect, nullptr, AgentEvent::CannotConnect},
    {status::kSilentUpdateError, "Silent Update Error", AgentEvent::UpdateError},
    {status::kRefusedStranger, nullptr, AgentEvent::RefusedStranger},
    {status::kQuiet, nullptr, AgentEvent::None},
    {status::kQuietToo, nullptr, AgentEvent::None},
};

// The entry of `code`, or nullptr for a code not listed.
inline const StatusLine* FindStatusLine(std::string_view code) {
  for (const StatusLine& line : kStatusLines) {
    if (code == line.code) {
      return &line;
    }
  }
  return nullptr;
}

}  // namespace umbrane
