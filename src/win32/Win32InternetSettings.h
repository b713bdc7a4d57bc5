// The Internet-settings port: WinINet per-connection options and the RAS
// list of active dial-up connections.
#pragma once

#include "platform/InternetSettings.h"

namespace umbrane::win32 {

class Win32InternetSettings final : public IInternetSettings {
 public:
  bool SetConnection(const std::string& connection, const ConnectionProxy& settings) override;
  std::optional<ConnectionProxy> QueryConnection(const std::string& connection) override;
  void Refresh() override;
  void SettingsChanged() override;
  DialUpEnumeration EnumerateDialUp(std::size_t capacity) override;
};

}  // namespace umbrane::win32
