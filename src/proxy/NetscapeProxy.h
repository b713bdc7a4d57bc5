// Netscape follows the tunnel through the proxy lines at the end of user.js
// in its default profile: HTTP and HTTPS through the local proxy, the local
// addresses direct.
#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "proxy/BrowserStep.h"

namespace umbrane {

// user.js of the first "*.slt" entry of the default profile folder; nothing
// when there is no such entry (then there is no Netscape profile).
std::optional<std::string> GetNetscapeUserJsPath(IFileSystem& files, ISystem& system);

// `userJs` without its proxy lines, followed by the six lines for `enable`
// (the bypass list, ";"-separated patterns, in the form Netscape reads).
std::string RewriteUserJs(const std::string& userJs, bool enable, const std::string& proxy,
                          const std::string& bypass);

// True when the proxy lines of `userJs` are the ones apply writes (whatever
// bypass list they hold), or the four lines earlier versions wrote.
bool IsOurUserJs(const std::string& userJs);
// `userJs` given back: the program's lines out and `saved` after the kept
// lines, or the direct lines when nothing was saved.
std::string RestoreUserJs(const std::string& userJs, const std::vector<std::string>& saved);

// The user's own proxy lines, to be saved before apply: nothing when there
// is no user.js that can be read; none when the lines there are the
// program's (left by a run that ended while on), but for the user's HTTPS
// lines that earlier versions left beside theirs.
std::optional<std::vector<std::string>> SaveNetscapeProxy(BrowserPorts& ports);

void SetNetscapeProxy(BrowserPorts& ports, const BrowserContext& context, bool enable,
                      const std::string& proxy, const std::string& bypass);

// Puts user.js back when its proxy lines are still the program's; a user.js
// the user has changed meanwhile is left alone. False when it needed giving
// back but could not be read whole or written.
bool RestoreNetscapeProxy(BrowserPorts& ports, const BrowserContext& context,
                          const std::optional<std::vector<std::string>>& saved);

// The step: saves the proxy lines once ("Netscape" section, one "Line"
// each; no section when there was no user.js to read).
std::unique_ptr<IBrowserStep> MakeNetscapeStep(const StepEnvironment& environment);

}  // namespace umbrane
