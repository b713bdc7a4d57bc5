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
// notifications; true when the options were accepted (or, on restore, when
// the connection was not ours and so was left alone).
bool SetConnectionProxy(IInternetSettings& internet, bool enable, const std::string& connection,
                        const std::string& proxy, const std::string& bypass);

// Appends the entry names of the active dial-up connections to `names` and
// returns their count; 0 when they cannot be listed.
int GetDialUpConnections(IInternetSettings& internet, std::vector<std::string>& names);

}  // namespace umbrane
