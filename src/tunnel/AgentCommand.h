// The tunnel agent's command line and its local proxy port.
#pragma once

#include <cstdint>
#include <string>

namespace umbrane {

inline constexpr const char* kAgentFile = "warden.exe";
// Where the browsers reach the tunnel: 127.0.0.1 at this port.
inline constexpr std::uint16_t kLocalPort = 7070;
// The environment variable in which an agent finds the listening socket
// Umbrane holds for it (a handle value), instead of binding the port itself.
inline constexpr const char* kListenSocketVariable = "WARDEN_LISTEN_SOCKET";

// "warden -name publicuser -key TOKEN -do -H 7070 -umbrane -port 80 -say RELAY"
std::string BuildAgentCommand(const std::string& accessToken, const std::string& relayAddress);

}  // namespace umbrane
