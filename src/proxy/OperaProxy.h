// Opera follows the tunnel through a proxy auto-configuration file of the
// program's ("umbrane.pac" beside umbrane.exe), which Opera's settings are
// pointed at once.
#pragma once

#include <string>

#include "proxy/BrowserPorts.h"

namespace umbrane {

std::string GetOperaIniPath(ISystem& system);

// The PAC file's content: the proxy rule, or nothing.
std::string OperaPac(bool enable, const std::string& proxy);

void SetOperaProxy(BrowserPorts& ports, const BrowserContext& context, bool enable,
                   const std::string& proxy);

}  // namespace umbrane
