// Ports of the download worker: the blocking fetch that runs on the worker
// thread, and the user-interface thread's wait that keeps dispatching window
// messages until the worker wakes it.
#pragma once

#include <functional>
#include <string>

namespace umbrane {

class IUrlFetcher {
 public:
  virtual ~IUrlFetcher() = default;

  // Fetches `url` into `file`, replacing it; true on success. Blocks; called
  // on the worker thread.
  virtual bool Fetch(const std::string& url, const std::string& file) = 0;
};

class IMessagePump {
 public:
  virtual ~IMessagePump() = default;

  // Dispatches the calling thread's window messages, sleeping while there
  // are none, until `done` holds; `done` is tested after every Wake.
  virtual void DispatchUntil(const std::function<bool()>& done) = 0;
  // Wakes the waiting thread; may be called from any thread.
  virtual void Wake() = 0;
};

}  // namespace umbrane
