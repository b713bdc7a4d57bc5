// Fetches one URL into a file on a worker thread while the user interface
// keeps running: the caller's thread dispatches window messages until its
// own worker reports, then returns that worker's result.
#pragma once

#include <string>

#include "platform/UrlFetcher.h"

namespace umbrane {

// The worker: one blocking fetch; an error in it counts as a failure.
class TDownload {
 public:
  TDownload(IUrlFetcher& fetcher, std::string url, std::string target)
      : fetcher_(fetcher), url_(std::move(url)), target_(std::move(target)) {}

  // Runs on the worker thread.
  bool Execute() noexcept;

 private:
  IUrlFetcher& fetcher_;
  std::string url_;
  std::string target_;
};

// True when the fetch succeeded. Returns only when the worker has finished;
// window messages are dispatched meanwhile, without spinning.
bool DownloadToFile(IUrlFetcher& fetcher, IMessagePump& pump, const std::string& url,
                    const std::string& target);

}  // namespace umbrane
