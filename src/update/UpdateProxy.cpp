#include "update/UpdateProxy.h"

#include "base/Text.h"
#include "proxy/BypassList.h"

namespace umbrane {
namespace {

// `text` matches `pattern`, whose "*" stand for any run of characters.
bool Matches(std::string_view pattern, std::string_view text) {
  if (pattern.empty()) {
    return text.empty();
  }
  if (pattern.front() == '*') {
    for (std::size_t skip = 0; skip <= text.size(); ++skip) {
      if (Matches(pattern.substr(1), text.substr(skip))) {
        return true;
      }
    }
    return false;
  }
  return !text.empty() && pattern.front() == text.front() &&
         Matches(pattern.substr(1), text.substr(1));
}

bool Bypassed(const std::string& bypass, const std::string& host) {
  const std::string name = LowerCase(host);
  if (name == "localhost" || name.starts_with("127.") || name == "[::1]" || name == "::1") {
    return true;
  }
  for (const std::string& entry : BypassEntries(bypass)) {
    const std::string pattern = LowerCase(entry);
    if ((pattern == "<local>" && name.find('.') == std::string::npos) || Matches(pattern, name)) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::optional<std::string> ProxyFor(const ConnectionProxy& lan, const std::string& host,
                                    bool secure) {
  if ((lan.flags & kProxyTypeProxy) == 0 || lan.proxyServer.empty() ||
      Bypassed(lan.bypass.value_or(""), host)) {
    return std::nullopt;
  }
  if (lan.proxyServer.find('=') == std::string::npos) {
    return lan.proxyServer;  // one proxy for every scheme
  }
  const std::string scheme = secure ? "https=" : "http=";
  for (const std::string& entry : BypassEntries(lan.proxyServer)) {
    if (LowerCase(entry).starts_with(scheme) && entry.size() > scheme.size()) {
      return entry.substr(scheme.size());
    }
  }
  return std::nullopt;  // none named for this scheme
}

}  // namespace umbrane
