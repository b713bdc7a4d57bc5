#include "proxy/FirefoxProxy.h"

#include <algorithm>

#include "proxy/Probes.h"

namespace umbrane {

std::string FirefoxHandOff(bool enable, const std::string& proxy, const std::string& country,
                           const std::string& bypass) {
  const HostPort split = SplitProxy(proxy);
  std::string hosts = bypass;
  std::replace(hosts.begin(), hosts.end(), ';', ',');
  return std::string(enable ? "-1" : "0") + "\r\n" + split.host + "\r\n" + split.port + "\r\n" +
         country + "\r\n" + hosts + "\r\n";
}

bool SetFirefoxExtensionProxy(BrowserPorts& ports, bool enable, const std::string& proxy,
                              const std::string& country, const std::string& bypass) {
  const auto folder = ports.registry.ReadUserString(kFirefoxExtensionsKey, kFirefoxExtensionId);
  if (!folder || folder->empty()) {
    return true;  // the extension is not installed
  }
  std::string error;
  // A folder the extension removed simply gets no file; nothing to tell.
  (void)ports.files.ReplaceFileSafely(*folder + "umbrane.tmp",
                                      FirefoxHandOff(enable, proxy, country, bypass), error);
  const WindowId firefox = FindWindowByTitle(ports.windows, "Mozilla Firefox");
  if (firefox == 0) {
    return true;
  }
  if (!ports.windows.BringToForeground(firefox)) {
    return false;  // Control+Shift+H would land in whatever program is in front
  }
  constexpr std::uint8_t kControl = 0x11, kShift = 0x10, kH = 0x48;
  ports.windows.SendKeys({{kControl, false},
                          {kShift, false},
                          {kH, false},
                          {kControl, true},
                          {kShift, true},
                          {kH, true}});
  return true;
}

}  // namespace umbrane
