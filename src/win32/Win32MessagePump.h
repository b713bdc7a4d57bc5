// The download's wait on the user-interface thread: it sleeps until a window
// message arrives or the worker wakes it, dispatching every message
// meanwhile; told to quit, it waits a little longer and then gives up.
#pragma once

#include <windows.h>

#include <functional>

#include "platform/UrlFetcher.h"
#include "win32/Handle.h"

namespace umbrane::win32 {

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
