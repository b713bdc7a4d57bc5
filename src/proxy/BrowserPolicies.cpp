#include "proxy/BrowserPolicies.h"

#include <optional>

namespace umbrane {
namespace {

struct PolicyBrowser {
  const char* name;
  const char* key;
};

constexpr PolicyBrowser kBrowsers[] = {
    {"Chrome", "Software\\Policies\\Google\\Chrome"},
    {"Edge", "Software\\Policies\\Microsoft\\Edge"},
};

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
  const auto read = [&](const char* name) -> std::optional<std::string> {
    for (auto value : {registry.ReadMachineString(key, name), registry.ReadUserString(key, name)}) {
      if (value && !value->empty()) {
        return value;
      }
    }
    return std::nullopt;
  };
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

}  // namespace umbrane
