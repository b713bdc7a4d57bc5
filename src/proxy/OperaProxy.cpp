#include "proxy/OperaProxy.h"

#include "proxy/Probes.h"

namespace umbrane {

namespace {

constexpr const char* kSection = "Proxy";
constexpr const char* kKey = "Automatic Proxy Configuration URL";

}  // namespace

std::string GetOperaIniPath(ISystem& system) {
  return GetAppDataFolder(system) + "Opera\\Opera\\profile\\opera6.ini";
}

std::string OperaPac(bool enable, const std::string& proxy) {
  if (!enable) {
    return {};
  }
  return "function FindProxyForURL(url, host)\r\n{return \"PROXY " + proxy + "\";\r\n}\r\n";
}

void SetOperaProxy(BrowserPorts& ports, const BrowserContext& context, bool enable,
                   const std::string& proxy) {
  const std::string ini = GetOperaIniPath(ports.system);
  if (!ports.files.FileExists(ini)) {
    return;  // Opera is not installed for this user
  }
  const std::string pac = context.appPath + "umbrane.pac";
  const std::string current = ports.profile.ReadString(ini, kSection, kKey, "");
  if (current.find("umbrane") == std::string::npos) {
    (void)ports.profile.WriteString(ini, kSection, kKey, pac);
    if (GetRunningBrowser(ports.processes) == "Opera") {
      NotifyRestart(ports, context, "Opera");
    }
  }
  std::string error;
  (void)ports.files.WriteFile(pac, OperaPac(enable, proxy), WriteMode::Replace, error);
}

}  // namespace umbrane
