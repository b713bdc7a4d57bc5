// Browsers whose proxy an administrator's policy sets: Chrome and Edge read
// their policies before the system's proxy settings, so while such a
// policy stands they do not use the tunnel, whatever the program switches.
// The program only tells; it changes no policy.
#pragma once

#include <string>
#include <vector>

#include "platform/Registry.h"

namespace umbrane {

// One line a browser whose proxy a policy sets, with why, for example
// "Chrome does not use Umbrane: its proxy is set by policy (ProxyMode
// fixed_servers)". A policy that says to follow the system ("system") sets
// nothing. The machine's policies come before the user's.
std::vector<std::string> BrowsersProxiedByPolicy(IRegistry& registry);

// One line an installed Chrome or Edge whose WebRTC may still send UDP
// around the proxy, and so show web sites the user's own address: what
// stops it is the policy WebRtcIPHandling set to "disable_non_proxied_udp",
// which only an administrator can write. Measured with a real browser, a
// page's STUN request left directly without it and never with it.
std::vector<std::string> BrowsersRevealingByWebRtc(IRegistry& registry);

}  // namespace umbrane
