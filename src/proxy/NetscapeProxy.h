// Netscape follows the tunnel through the proxy lines at the end of user.js
// in its default profile.
#pragma once

#include <optional>
#include <string>

#include "proxy/BrowserPorts.h"

namespace umbrane {

// user.js of the first "*.slt" entry of the default profile folder; nothing
// when there is no such entry (then there is no Netscape profile).
std::optional<std::string> GetNetscapeUserJsPath(IFileSystem& files, ISystem& system);

// `userJs` without its proxy lines, followed by the four lines for `enable`.
std::string RewriteUserJs(const std::string& userJs, bool enable, const std::string& proxy,
                          const std::string& bypass);

void SetNetscapeProxy(BrowserPorts& ports, const BrowserContext& context, bool enable,
                      const std::string& proxy, const std::string& bypass);

}  // namespace umbrane
