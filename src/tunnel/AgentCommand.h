// The tunnel agent's command line and its local proxy port.
#pragma once

#include <string>

namespace umbrane {

inline constexpr const char* kAgentFile = "warden.exe";

// "warden -name publicuser -key TOKEN -do -H 7070 -umbrane -port 80 -say RELAY"
std::string BuildAgentCommand(const std::string& accessToken, const std::string& relayAddress);

}  // namespace umbrane
