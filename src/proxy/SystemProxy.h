// The system step: the Internet options of the LAN or of one dial-up
// connection, pointed at the local proxy as a SOCKS proxy or put back on a
// direct connection, and the list of active dial-up connections.
#pragma once

#include <string>
#include <vector>

#include "platform/InternetSettings.h"

namespace umbrane {

// The agent's local proxy, as the browsers are pointed at it.
inline constexpr const char* kLocalProxy = "127.0.0.1:7070";

// True when `settings` are the ones apply writes: the proxy flag with the
// local proxy as the SOCKS server. Restore leaves any other settings alone.
bool IsOurProxy(const ConnectionProxy& settings);

// Sets one connection ("" is the LAN), then sends the two reload
// notifications; true when the options were accepted. Restore writes the
// direct connection only over the program's own setting, and is true when
// it left another one alone.
bool SetConnectionProxy(IInternetSettings& internet, bool enable, const std::string& connection,
                        const std::string& proxy, const std::string& bypass);

// Gives one connection back its saved options, then sends the two reload
// notifications. A connection the user has changed since (no longer the
// program's own) is left alone. True unless the options were refused.
bool RestoreConnectionProxy(IInternetSettings& internet, const std::string& connection,
                            const ConnectionProxy& saved);

// Appends the entry names of the active dial-up connections to `names` and
// returns their count; 0 when they cannot be listed.
int GetDialUpConnections(IInternetSettings& internet, std::vector<std::string>& names);

}  // namespace umbrane
