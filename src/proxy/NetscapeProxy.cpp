#include "proxy/NetscapeProxy.h"

#include "base/LineList.h"
#include "proxy/Probes.h"
#include "proxy/SystemProxy.h"

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

// The lines of `userJs` that the removal rule keeps, in their order.
LineList WithoutProxyLines(const std::string& userJs) {
  LineList source;
  source.SetText(userJs);
  LineList kept;
  for (const std::string& line : source.Lines()) {
    if (!IsProxyLine(line)) {
      kept.Add(line);
    }
  }
  return kept;
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
  LineList result = WithoutProxyLines(userJs);
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

std::vector<std::string> NetscapeProxyLines(const std::string& userJs) {
  LineList source;
  source.SetText(userJs);
  std::vector<std::string> lines;
  for (const std::string& line : source.Lines()) {
    if (IsProxyLine(line)) {
      lines.push_back(line);
    }
  }
  return lines;
}

bool IsOurUserJs(const std::string& userJs) {
  return NetscapeProxyLines(userJs) == NetscapeProxyLines(RewriteUserJs("", true, kLocalProxy, ""));
}

std::string RestoreUserJs(const std::string& userJs, const std::vector<std::string>& saved) {
  if (saved.empty()) {
    return RewriteUserJs(userJs, false, "", "");
  }
  LineList result = WithoutProxyLines(userJs);
  for (const std::string& line : saved) {
    result.Add(line);
  }
  return result.Text();
}

std::optional<std::vector<std::string>> SaveNetscapeProxy(BrowserPorts& ports) {
  const auto path = GetNetscapeUserJsPath(ports.files, ports.system);
  const auto current = path ? ports.files.ReadFile(*path) : std::nullopt;
  if (!current) {
    return std::nullopt;
  }
  if (IsOurUserJs(*current)) {
    return std::vector<std::string>{};
  }
  return NetscapeProxyLines(*current);
}

void SetNetscapeProxy(BrowserPorts& ports, const BrowserContext& context, bool enable,
                      const std::string& proxy, const std::string& bypass) {
  const auto path = GetNetscapeUserJsPath(ports.files, ports.system);
  if (path) {
    // Only an existing user.js that can be read to its end is rewritten: a
    // profile without one keeps none, and a part read is never written back.
    if (const auto current = ports.files.ReadFile(*path)) {
      std::string error;
      (void)ports.files.ReplaceFileSafely(*path, RewriteUserJs(*current, enable, proxy, bypass),
                                          error);
    }
  }
  if (GetRunningBrowser(ports.processes) == "Netscape") {
    NotifyRestart(ports, context, "Netscape");
  }
}

bool RestoreNetscapeProxy(BrowserPorts& ports, const BrowserContext& context,
                          const std::optional<std::vector<std::string>>& saved) {
  bool restored = true;
  const auto path = GetNetscapeUserJsPath(ports.files, ports.system);
  if (path && ports.files.FileExists(*path)) {
    const auto current = ports.files.ReadFile(*path);
    std::string error;
    if (!current) {
      restored = false;  // cannot tell, and must not write back a part
    } else if (IsOurUserJs(*current)) {
      restored = ports.files.ReplaceFileSafely(
          *path, RestoreUserJs(*current, saved.value_or(std::vector<std::string>{})), error);
    }
  }
  if (GetRunningBrowser(ports.processes) == "Netscape") {
    NotifyRestart(ports, context, "Netscape");
  }
  return restored;
}

}  // namespace umbrane
