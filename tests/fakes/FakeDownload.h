// Fakes of the download ports: a fetch that writes a scripted reply (or
// fails), and a message pump whose "window messages" are callbacks.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "FakeFileSystem.h"
#include "platform/UrlFetcher.h"

namespace umbrane::fakes {

class FakeFetcher : public IUrlFetcher {
 public:
  explicit FakeFetcher(FakeFileSystem& files) : files_(files) {}

  std::optional<std::string> reply;  // nothing: the fetch fails
  std::function<void()> during;      // runs on the worker thread, inside the fetch
  std::vector<std::string> urls;

  bool Fetch(const std::string& url, const std::string& file) override {
    urls.push_back(url);
    if (during) {
      during();
    }
    if (!reply) {
      return false;
    }
    files_.AddFile(file, *reply);
    return true;
  }

 private:
  FakeFileSystem& files_;
};

class FakePump : public IMessagePump {
 public:
  int dispatched = 0;

  void Post(std::function<void()> message) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      messages_.push_back(std::move(message));
    }
    wake_.notify_all();
  }
  void DispatchUntil(const std::function<bool()>& done) override {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      while (!messages_.empty()) {
        auto message = std::move(messages_.front());
        messages_.pop_front();
        lock.unlock();
        message();
        ++dispatched;
        lock.lock();
      }
      if (done()) {
        return;
      }
      wake_.wait(lock);
    }
  }
  void Wake() override {
    { std::lock_guard<std::mutex> lock(mutex_); }
    wake_.notify_all();
  }

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> messages_;
};

}  // namespace umbrane::fakes
