#include "proxy/OperaProxy.h"

#include "proxy/Probes.h"

namespace umbrane {

namespace {

constexpr const char* kSection = "Proxy";
constexpr const char* kKey = "Automatic Proxy Configuration URL";

// The ownership test: any address naming "umbrane" is the program's.
bool IsOurs(const std::string& url) {
  return url.find("umbrane") != std::string::npos;
}

void NotifyIfRunning(BrowserPorts& ports, const BrowserContext& context) {
  if (GetRunningBrowser(ports.processes) == "Opera") {
    NotifyRestart(ports, context, "Opera");
  }
}

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

std::optional<std::string> SaveOperaProxy(BrowserPorts& ports) {
  const std::string ini = GetOperaIniPath(ports.system);
  if (!ports.files.FileExists(ini)) {
    return std::nullopt;
  }
  return ports.profile.ReadString(ini, kSection, kKey, "");
}

void SetOperaProxy(BrowserPorts& ports, const BrowserContext& context, bool enable,
                   const std::string& proxy) {
  const std::string ini = GetOperaIniPath(ports.system);
  if (!ports.files.FileExists(ini)) {
    return;  // Opera is not installed for this user
  }
  const std::string pac = context.appPath + "umbrane.pac";
  if (!IsOurs(ports.profile.ReadString(ini, kSection, kKey, ""))) {
    (void)ports.profile.WriteString(ini, kSection, kKey, pac);
    NotifyIfRunning(ports, context);
  }
  std::string error;
  (void)ports.files.ReplaceFileSafely(pac, OperaPac(enable, proxy), error);
}

bool RestoreOperaProxy(BrowserPorts& ports, const BrowserContext& context,
                       const std::optional<std::string>& saved) {
  const std::string ini = GetOperaIniPath(ports.system);
  if (!ports.files.FileExists(ini)) {
    return true;  // nothing of Opera's to give back
  }
  bool restored = true;
  // An empty saved address keeps Opera on the emptied PAC file, which is a
  // direct connection too; the user's own address goes back.
  if (saved && !saved->empty() && !IsOurs(*saved) &&
      IsOurs(ports.profile.ReadString(ini, kSection, kKey, ""))) {
    restored = ports.profile.WriteString(ini, kSection, kKey, *saved);
    NotifyIfRunning(ports, context);
  }
  const std::string pac = context.appPath + "umbrane.pac";
  std::string error;
  // A PAC file that was never written needs no emptying.
  if (!ports.files.ReplaceFileSafely(pac, OperaPac(false, ""), error) &&
      ports.files.FileExists(pac)) {
    restored = false;
  }
  return restored;
}

}  // namespace umbrane
