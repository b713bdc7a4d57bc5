#include "update/Download.h"

#include <atomic>
#include <memory>
#include <thread>

namespace umbrane {

bool TDownload::Execute() noexcept {
  try {
    return fetcher_.Fetch(url_, target_, why_);
  } catch (...) {
    return false;
  }
}

bool DownloadToFile(IUrlFetcher& fetcher, IMessagePump& pump, const std::string& url,
                    const std::string& target, std::string* why) {
  // Each call has its own worker and its own result, so two downloads in a
  // row can never return each other's. The result lives as long as the
  // worker: a worker left behind at quit writes nothing of the caller's.
  // (The fetcher and the pump live as long as the program.)
  struct Result {
    std::atomic<bool> done{false};
    bool succeeded = false;
    std::string why;
  };
  auto result = std::make_shared<Result>();
  std::thread thread([result, &fetcher, &pump, url, target] {
    TDownload worker(fetcher, url, target);
    result->succeeded = worker.Execute();
    result->why = worker.Why();
    result->done.store(true, std::memory_order_release);
    pump.Wake();
  });
  const bool finished = pump.DispatchUntil(
      [&] { return result->done.load(std::memory_order_acquire); }, [&] { fetcher.Cancel(); });
  if (!finished) {
    thread.detach();  // quitting, and the fetch did not end when told to
    return false;
  }
  thread.join();  // it has finished: this returns at once
  if (why != nullptr) {
    *why = result->why;
  }
  return result->succeeded;
}

}  // namespace umbrane
