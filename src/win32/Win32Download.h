// The download's fetch on the worker thread: its own connection, so that
// the service's TLS key is checked before a byte of the request leaves;
// bounded in size and time, ended from outside by Cancel. The wait on the
// user-interface thread is Win32MessagePump.h's.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "platform/InternetSettings.h"
#include "platform/UrlFetcher.h"
#include "win32/Handle.h"
#include "win32/Win32MessagePump.h"

namespace umbrane::win32 {

class Win32UrlFetcher final : public IUrlFetcher {
 public:
  // `pins`: SHA-256 digests of the keys the service may show; none: its
  // certificate must chain to a root the system trusts and name its host.
  // `internet`: where the LAN's proxy is read (none: always direct).
  explicit Win32UrlFetcher(std::vector<std::string> pins, IInternetSettings* internet = nullptr);

  bool Fetch(const std::string& url, const std::string& file, std::string& why) override;
  void Cancel() override;

 private:
  std::vector<std::string> pins_;
  IInternetSettings* internet_;
  std::mutex mutex_;
  SOCKET socket_ = INVALID_SOCKET;  // of the fetch in progress
  bool cancelled_ = false;
};

}  // namespace umbrane::win32
