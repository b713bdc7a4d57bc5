#include "update/Download.h"

#include <atomic>
#include <thread>

namespace umbrane {

bool TDownload::Execute() noexcept {
  try {
    return fetcher_.Fetch(url_, target_);
  } catch (...) {
    return false;
  }
}

bool DownloadToFile(IUrlFetcher& fetcher, IMessagePump& pump, const std::string& url,
                    const std::string& target) {
  // Each call has its own worker and its own result, so two downloads in a
  // row can never return each other's.
  std::atomic<bool> done{false};
  bool succeeded = false;
  TDownload worker(fetcher, url, target);
  std::thread thread([&] {
    succeeded = worker.Execute();
    done.store(true, std::memory_order_release);
    pump.Wake();
  });
  pump.DispatchUntil([&] { return done.load(std::memory_order_acquire); });
  thread.join();  // it has finished: this returns at once
  return succeeded;
}

}  // namespace umbrane
