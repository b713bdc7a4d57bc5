#include "tunnel/AgentCommand.h"

namespace umbrane {

std::string BuildAgentCommand(const std::string& accessToken, const std::string& relayAddress) {
  return "warden -name publicuser -key " + accessToken + " -do -H " + std::to_string(kLocalPort) +
         " -umbrane -port " + "80" + " -say " + relayAddress;
}

}  // namespace umbrane
