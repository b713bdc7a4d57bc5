// Which proxy the update check goes through: the one the system's Internet
// options name for the LAN, as browsers would use it, unless its bypass
// list names the service's host. Automatic configuration (a script, or
// detection) is not run: the check then goes direct.
#pragma once

#include <optional>
#include <string>

#include "platform/InternetSettings.h"

namespace umbrane {

// "host:port" of the proxy for `host` (an https service when `secure`), or
// nothing for a direct connection. The proxy server is "host:port" for every
// scheme, or "scheme=host:port" entries separated by ";"; bypass entries are
// names or "*" patterns (letter case aside), "<local>" for any name without a
// dot; this machine's own names and addresses never go through a proxy.
std::optional<std::string> ProxyFor(const ConnectionProxy& lan, const std::string& host,
                                    bool secure);

}  // namespace umbrane
