#include "proxy/BrowserPorts.h"

#include "proxy/RestartNotice.h"

namespace umbrane {

HostPort SplitProxy(const std::string& proxy) {
  const auto colon = proxy.find(':');
  if (colon == std::string::npos) {
    return {"", proxy};
  }
  return {proxy.substr(0, colon), proxy.substr(colon + 1)};
}

void NotifyRestart(BrowserPorts& ports, const BrowserContext& context, const std::string& browser) {
  ShowRestartNotice(ports.dialogs, ports.profile, context.skinFile,
                    CurrentLanguageFiles(ports.system), browser);
}

}  // namespace umbrane
