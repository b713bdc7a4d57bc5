// Netscape follows the tunnel through the proxy lines at the end of user.js
// in its default profile.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "proxy/BrowserPorts.h"

namespace umbrane {

// user.js of the first "*.slt" entry of the default profile folder; nothing
// when there is no such entry (then there is no Netscape profile).
std::optional<std::string> GetNetscapeUserJsPath(IFileSystem& files, ISystem& system);

// `userJs` without its proxy lines, followed by the four lines for `enable`.
std::string RewriteUserJs(const std::string& userJs, bool enable, const std::string& proxy,
                          const std::string& bypass);

// The lines of `userJs` that the removal rule takes out, in their order.
std::vector<std::string> NetscapeProxyLines(const std::string& userJs);
// True when the proxy lines of `userJs` are exactly the ones apply writes.
bool IsOurUserJs(const std::string& userJs);
// `userJs` without its proxy lines, followed by `saved`, or by the four
// direct lines when nothing was saved.
std::string RestoreUserJs(const std::string& userJs, const std::vector<std::string>& saved);

// The user's own proxy lines, to be saved before apply: nothing when there
// is no user.js that can be read; none when the lines there are the
// program's (left by a run that ended while on).
std::optional<std::vector<std::string>> SaveNetscapeProxy(BrowserPorts& ports);

void SetNetscapeProxy(BrowserPorts& ports, const BrowserContext& context, bool enable,
                      const std::string& proxy, const std::string& bypass);

// Puts user.js back when its proxy lines are still the program's; a user.js
// the user has changed meanwhile is left alone. False when it needed giving
// back but could not be read whole or written.
bool RestoreNetscapeProxy(BrowserPorts& ports, const BrowserContext& context,
                          const std::optional<std::vector<std::string>>& saved);

}  // namespace umbrane
