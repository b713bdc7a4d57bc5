#include "proxy/BrowserSwitch.h"

#include <vector>

#include "proxy/FirefoxProxy.h"
#include "proxy/NetscapeProxy.h"
#include "proxy/OperaProxy.h"
#include "proxy/SystemProxy.h"

namespace umbrane {

void BrowserSwitch::SetBrowsersProxy(bool enable, const std::string& proxy,
                                     const std::string& country, const std::string& bypass) {
  std::vector<std::string> connections;
  const int count = GetDialUpConnections(ports_.internet, connections);
  if (count < 1) {
    (void)SetConnectionProxy(ports_.internet, enable, "", proxy, bypass);  // the LAN
  } else {
    for (int i = 0; i < count; ++i) {
      (void)SetConnectionProxy(ports_.internet, enable, connections[static_cast<std::size_t>(i)],
                               proxy, bypass);
    }
  }
  SetFirefoxExtensionProxy(ports_, enable, proxy, country, bypass);
  SetOperaProxy(ports_, context_, enable, proxy);
  SetNetscapeProxy(ports_, context_, enable, proxy, bypass);
}

}  // namespace umbrane
