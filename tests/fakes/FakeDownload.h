// Fakes of the download ports: a fetch that writes a scripted reply (or
// fails), and a message pump whose "window messages" are callbacks.
#pragma once

#include <atomic>
#include <chrono>
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

  std::atomic<bool> cancelled{false};

  void Cancel() override { cancelled = true; }
  bool Fetch(const std::string& url, const std::string& file, std::string&) override {
    urls.push_back(url);
    if (during) {
      during();
    }
    if (!reply || cancelled) {
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
  // The program told to quit: `quitting` is called, and the wait goes on
  // for `grace` at most.
  void PostQuit() {
    Post([this] { quit_ = true; });
  }
  std::chrono::milliseconds grace{200};

  bool DispatchUntil(const std::function<bool()>& done,
                     const std::function<void()>& quitting) override {
    std::unique_lock<std::mutex> lock(mutex_);
    std::optional<std::chrono::steady_clock::time_point> giveUpAt;
    for (;;) {
      while (!messages_.empty()) {
        auto message = std::move(messages_.front());
        messages_.pop_front();
        lock.unlock();
        message();
        ++dispatched;
        if (quit_ && !giveUpAt) {
          giveUpAt = std::chrono::steady_clock::now() + grace;
          quitting();
        }
        lock.lock();
      }
      if (done()) {
        return true;
      }
      if (!giveUpAt) {
        wake_.wait(lock);
      } else if (wake_.wait_until(lock, *giveUpAt) == std::cv_status::timeout && !done()) {
        return false;
      }
    }
  }
  void Wake() override {
    { std::lock_guard<std::mutex> lock(mutex_); }
    wake_.notify_all();
    ++wakes;
  }
  std::atomic<int> wakes{0};

 private:
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::function<void()>> messages_;
  bool quit_ = false;
};

}  // namespace umbrane::fakes
