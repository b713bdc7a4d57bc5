#include "proxy/NetscapeProxy.h"

#include "base/LineList.h"
#include "proxy/Probes.h"

namespace umbrane {

namespace {

bool IsProxyLine(const std::string& line) {
  for (const char* key : {"network.proxy.http", "network.proxy.http_port", "network.proxy.type",
                          "network.proxy.no_proxies_on"}) {
    if (line.find(key) != std::string::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<std::string> GetNetscapeUserJsPath(IFileSystem& files, ISystem& system) {
  const std::string base = GetAppDataFolder(system) + "Mozilla\\Profiles\\default\\";
  const auto entry = files.FirstMatch(base + "*.slt");
  if (!entry) {
    return std::nullopt;
  }
  return AddTrailingBackslash(AddTrailingBackslash(base) + *entry) + "user.js";
}

std::string RewriteUserJs(const std::string& userJs, bool enable, const std::string& proxy,
                          const std::string& bypass) {
  LineList source;
  source.SetText(userJs);
  LineList result;
  for (const std::string& line : source.Lines()) {
    if (!IsProxyLine(line)) {
      result.Add(line);
    }
  }
  const HostPort split = enable ? SplitProxy(proxy) : HostPort{};
  // A port line needs a number to be valid preference syntax: 0 when none
  // is known, as on restore.
  const std::string port = split.port.empty() ? "0" : split.port;
  result.Add(std::string("user_pref(\"network.proxy.type\", ") + (enable ? "1" : "0") + ");");
  result.Add("user_pref(\"network.proxy.http\", \"" + split.host + "\");");
  result.Add("user_pref(\"network.proxy.http_port\"," + port + ");");
  result.Add("user_pref(\"network.proxy.no_proxies_on\", \"" + bypass + "\");");
  return result.Text();
}

void SetNetscapeProxy(BrowserPorts& ports, const BrowserContext& context, bool enable,
                      const std::string& proxy, const std::string& bypass) {
  const auto path = GetNetscapeUserJsPath(ports.files, ports.system);
  if (path) {
    // Only an existing user.js is rewritten: a profile without one keeps
    // none.
    if (const auto current = ports.files.ReadFile(*path)) {
      std::string error;
      (void)ports.files.WriteFile(*path, RewriteUserJs(*current, enable, proxy, bypass),
                                  WriteMode::Replace, error);
    }
  }
  if (GetRunningBrowser(ports.processes) == "Netscape") {
    NotifyRestart(ports, context, "Netscape");
  }
}

}  // namespace umbrane
