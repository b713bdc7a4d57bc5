#include "proxy/BrowserSwitch.h"

#include <vector>

#include "proxy/SystemProxy.h"

namespace umbrane {

void BrowserSwitch::SetBrowsersProxy(bool enable, const std::string& proxy,
                                     const std::string& /*country*/, const std::string& bypass) {
  std::vector<std::string> connections;
  const int count = GetDialUpConnections(internet_, connections);
  if (count < 1) {
    (void)SetConnectionProxy(internet_, enable, "", proxy, bypass);  // the LAN
  } else {
    for (int i = 0; i < count; ++i) {
      (void)SetConnectionProxy(internet_, enable, connections[static_cast<std::size_t>(i)], proxy,
                               bypass);
    }
  }
  // The Firefox hand-off, Opera and Netscape steps follow here once they
  // are built; until then only the system settings are switched.
}

}  // namespace umbrane
