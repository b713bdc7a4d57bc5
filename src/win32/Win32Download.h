// The download ports: a WinINet fetch on the worker thread (the system's
// Internet settings, certificates checked, bounded in size and time, ended
// from outside by Cancel), and a wait on the user-interface thread that
// sleeps until a window message arrives or the worker wakes it, dispatching
// every message meanwhile.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <mutex>

#include "platform/UrlFetcher.h"
#include "win32/Handle.h"

namespace umbrane::win32 {

class Win32UrlFetcher final : public IUrlFetcher {
 public:
  bool Fetch(const std::string& url, const std::string& file) override;
  void Cancel() override;

 private:
  std::mutex mutex_;
  HINTERNET session_ = nullptr;  // of the fetch in progress
  bool cancelled_ = false;
};

class Win32MessagePump final : public IMessagePump {
 public:
  Win32MessagePump();

  bool DispatchUntil(const std::function<bool()>& done,
                     const std::function<void()>& quitting) override;
  void Wake() override;

 private:
  UniqueHandle wake_;  // an auto-reset event
};

}  // namespace umbrane::win32
