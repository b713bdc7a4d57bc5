// The download ports: URLDownloadToFileA on the worker thread, and a wait on
// the user-interface thread that sleeps until a window message arrives or
// the worker wakes it, dispatching every message meanwhile.
#pragma once

#include "platform/UrlFetcher.h"
#include "win32/Handle.h"

namespace umbrane::win32 {

class Win32UrlFetcher final : public IUrlFetcher {
 public:
  bool Fetch(const std::string& url, const std::string& file) override;
};

class Win32MessagePump final : public IMessagePump {
 public:
  Win32MessagePump();

  void DispatchUntil(const std::function<bool()>& done) override;
  void Wake() override;

 private:
  UniqueHandle wake_;  // an auto-reset event
};

}  // namespace umbrane::win32
