// Port: the per-connection proxy settings of the system's Internet options,
// and the active dial-up connections.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace umbrane {

// The system's per-connection flags.
constexpr unsigned kProxyTypeDirect = 1;
constexpr unsigned kProxyTypeProxy = 2;
constexpr unsigned kProxyTypeAutoProxyUrl = 4;
constexpr unsigned kProxyTypeAutoDetect = 8;

// One connection's options. Bypass and the automatic configuration address
// are sent only when present; a query fills in both.
struct ConnectionProxy {
  unsigned flags = kProxyTypeDirect;
  std::string proxyServer;
  std::optional<std::string> bypass;
  std::optional<std::string> autoConfigUrl;
  bool operator==(const ConnectionProxy&) const = default;
};

// One enumeration of the active dial-up connections with room for
// `capacity` records.
struct DialUpEnumeration {
  bool ok = false;
  bool bufferTooSmall = false;
  std::size_t needed = 0;  // records needed, when the buffer was too small
  std::vector<std::string> names;
};

class IInternetSettings {
 public:
  virtual ~IInternetSettings() = default;

  // Sets the options of one connection ("" is the LAN); true when accepted.
  virtual bool SetConnection(const std::string& connection, const ConnectionProxy& settings) = 0;
  // The connection's current options; nothing when unreadable.
  virtual std::optional<ConnectionProxy> QueryConnection(const std::string& connection) = 0;
  // The two reload notifications: "refresh", then "settings changed".
  virtual void Refresh() = 0;
  virtual void SettingsChanged() = 0;
  virtual DialUpEnumeration EnumerateDialUp(std::size_t capacity) = 0;
};

}  // namespace umbrane
