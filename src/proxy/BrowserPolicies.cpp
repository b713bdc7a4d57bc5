#include "proxy/BrowserPolicies.h"

#include <optional>

namespace umbrane {
namespace {

struct PolicyBrowser {
  const char* name;
  const char* key;
  const char* program;  // as the system's App Paths name it once installed
};

constexpr PolicyBrowser kBrowsers[] = {
    {"Chrome", "Software\\Policies\\Google\\Chrome", "chrome.exe"},
    {"Edge", "Software\\Policies\\Microsoft\\Edge", "msedge.exe"},
};

constexpr const char* kAppPaths = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";

// A policy's value, the machine's before the user's; nothing when unset.
std::optional<std::string> ReadPolicy(IRegistry& registry, const std::string& key,
                                      const char* name) {
  for (auto value : {registry.ReadMachineString(key, name), registry.ReadUserString(key, name)}) {
    if (value && !value->empty()) {
      return value;
    }
  }
  return std::nullopt;
}

// The value of "ProxyMode" in the ProxySettings dictionary (JSON text),
// or empty.
std::string ModeIn(const std::string& settings) {
  const auto name = settings.find("\"ProxyMode\"");
  const auto open = name == std::string::npos ? name : settings.find('"', name + 11);
  const auto close = open == std::string::npos ? open : settings.find('"', open + 1);
  return close == std::string::npos ? "" : settings.substr(open + 1, close - open - 1);
}

// Why the browser under `key` does not follow the system, or nothing.
std::optional<std::string> PolicyProxy(IRegistry& registry, const std::string& key) {
  const auto read = [&](const char* name) { return ReadPolicy(registry, key, name); };
  // ProxySettings, where set, is the one that counts.
  if (const auto settings = read("ProxySettings")) {
    const std::string mode = ModeIn(*settings);
    return mode == "system" ? std::nullopt : std::optional<std::string>("ProxySettings " + mode);
  }
  if (const auto mode = read("ProxyMode")) {
    return *mode == "system" ? std::nullopt : std::optional<std::string>("ProxyMode " + *mode);
  }
  for (const char* name : {"ProxyServer", "ProxyPacUrl"}) {
    if (read(name)) {
      return std::string(name);
    }
  }
  return std::nullopt;
}

}  // namespace

std::vector<std::string> BrowsersProxiedByPolicy(IRegistry& registry) {
  std::vector<std::string> lines;
  for (const auto& browser : kBrowsers) {
    if (const auto why = PolicyProxy(registry, browser.key)) {
      std::string detail = *why;
      while (!detail.empty() && detail.back() == ' ') {
        detail.pop_back();
      }
      lines.push_back(std::string(browser.name) +
                      " does not use Umbrane: its proxy is set by policy (" + detail + ")");
    }
  }
  return lines;
}

std::vector<std::string> BrowsersRevealingByWebRtc(IRegistry& registry) {
  std::vector<std::string> lines;
  for (const auto& browser : kBrowsers) {
    const std::string program = std::string(kAppPaths) + browser.program;
    const bool installed =
        registry.ReadMachineString(program, "") || registry.ReadUserString(program, "");
    if (installed && ReadPolicy(registry, browser.key, "WebRtcIPHandling").value_or("") !=
                         "disable_non_proxied_udp") {
      lines.push_back(std::string(browser.name) +
                      ": WebRTC can show web sites your own address. An administrator can stop "
                      "it: policy WebRtcIPHandling = disable_non_proxied_udp");
    }
  }
  return lines;
}

}  // namespace umbrane
