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
  // on the worker thread. A service that is not the one expected (its
  // certificate or key) is told in `why`.
  virtual bool Fetch(const std::string& url, const std::string& file, std::string& why) = 0;
  // Ends the fetch in progress, and refuses any later one: it returns false
  // soon. May be called from any thread; for a program that is quitting.
  virtual void Cancel() = 0;
};

class IMessagePump {
 public:
  virtual ~IMessagePump() = default;

  // Dispatches the calling thread's window messages, sleeping while there
  // are none, until `done` holds; `done` is tested after every Wake. When the
  // program is told to quit meanwhile, `quitting` is called once and the
  // wait goes on for a few seconds at most (the quit is passed on). Returns
  // whether `done` held.
  virtual bool DispatchUntil(const std::function<bool()>& done,
                             const std::function<void()>& quitting) = 0;
  // Wakes the waiting thread; may be called from any thread.
  virtual void Wake() = 0;
};

}  // namespace umbrane
