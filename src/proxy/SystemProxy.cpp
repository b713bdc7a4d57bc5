#include "proxy/SystemProxy.h"

namespace umbrane {

namespace {

constexpr std::size_t kFirstCapacity = 10;
constexpr int kEnumerationTries = 4;

}  // namespace

bool IsOurProxy(const ConnectionProxy& settings) {
  return (settings.flags & kProxyTypeProxy) != 0 &&
         settings.proxyServer == std::string("socks=") + kLocalProxy;
}

bool SetConnectionProxy(IInternetSettings& internet, bool enable, const std::string& connection,
                        const std::string& proxy, const std::string& bypass) {
  bool accepted = true;
  const auto current = enable ? std::nullopt : internet.QueryConnection(connection);
  // Restore only undoes our own setting: a proxy the user set up, or
  // settings that cannot even be read, are kept.
  if (enable || (current && IsOurProxy(*current))) {
    ConnectionProxy settings;
    settings.flags = enable ? kProxyTypeProxy : kProxyTypeDirect;
    settings.proxyServer = "socks=" + (enable ? proxy : std::string());
    if (!bypass.empty()) {
      settings.bypass = bypass;
    }
    accepted = internet.SetConnection(connection, settings);
  }
  internet.Refresh();
  internet.SettingsChanged();
  return accepted;
}

bool RestoreConnectionProxy(IInternetSettings& internet, const std::string& connection,
                            const ConnectionProxy& saved) {
  bool accepted = true;
  const auto current = internet.QueryConnection(connection);
  // The program changed this connection; when it cannot tell whether the
  // change is still there, the user's own values are the safe thing to write.
  if (!current || IsOurProxy(*current)) {
    accepted = internet.SetConnection(connection, saved);
  }
  internet.Refresh();
  internet.SettingsChanged();
  return accepted;
}

int GetDialUpConnections(IInternetSettings& internet, std::vector<std::string>& names) {
  std::size_t capacity = kFirstCapacity;
  for (int attempt = 0; attempt < kEnumerationTries; ++attempt) {
    DialUpEnumeration result = internet.EnumerateDialUp(capacity);
    if (result.ok) {
      names.insert(names.end(), result.names.begin(), result.names.end());
      return static_cast<int>(result.names.size());
    }
    if (!result.bufferTooSmall || result.needed <= capacity) {
      break;
    }
    // More connections than room: ask again with room for all of them (and
    // a few more, in case one connects meanwhile).
    capacity = result.needed + 2;
  }
  return 0;
}

}  // namespace umbrane
