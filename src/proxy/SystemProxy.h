// The system step: the Internet options of the LAN or of each active
// dial-up connection, pointed at the local proxy as an HTTP proxy for every
// scheme (with the local addresses kept direct) or given back, and the list
// of active dial-up connections.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/InternetSettings.h"
#include "proxy/BrowserStep.h"

namespace umbrane {

// The agent's local proxy, as the browsers are pointed at it.
inline constexpr const char* kLocalProxy = "127.0.0.1:7070";

// True when `settings` are the program's own: the proxy flag with the local
// proxy as the server, as this version writes it ("127.0.0.1:7070") or as
// earlier versions did ("socks=127.0.0.1:7070"). Restore leaves any other
// settings alone.
bool IsOurProxy(const ConnectionProxy& settings);

// Sets one connection ("" is the LAN), then sends the two reload
// notifications; true when the options were accepted. Apply names `proxy`
// as the one server for every scheme: a "socks=" entry would be read as
// SOCKS4, with every name resolved on the user's own network. Restore
// writes the direct connection only over the program's own setting, and is
// true when it left another one alone.
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

// The step: saves every connection it is about to change ("Connection"
// sections), keeps each connection's own bypass entries after the local
// list while on, and gives back every saved connection, active or not.
std::unique_ptr<IBrowserStep> MakeSystemStep(const StepEnvironment& environment);

}  // namespace umbrane
