// Fetches one URL into a file on a worker thread while the user interface
// keeps running: the caller's thread dispatches window messages until its
// own worker reports, then returns that worker's result.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

#include "platform/UrlFetcher.h"

namespace umbrane {

// What a fetch may take: no update reply is longer, and a service that has
// not finished by then has failed.
inline constexpr std::size_t kMaxReplyBytes = 64 * 1024;
inline constexpr std::chrono::seconds kFetchTime{30};

// The worker: one blocking fetch; an error in it counts as a failure.
class TDownload {
 public:
  TDownload(IUrlFetcher& fetcher, std::string url, std::string target)
      : fetcher_(fetcher), url_(std::move(url)), target_(std::move(target)) {}

  // Runs on the worker thread.
  bool Execute() noexcept;
  // Why the service was not the one expected, after Execute.
  const std::string& Why() const { return why_; }

 private:
  IUrlFetcher& fetcher_;
  std::string url_;
  std::string target_;
  std::string why_;
};

// True when the fetch succeeded. Returns when the worker has finished, or
// soon after the program is told to quit (the fetch is then cancelled, and
// a worker that does not end at once is left to end by itself); window
// messages are dispatched meanwhile, without spinning.
// `why` (when given) receives the fetcher's word on a service that was not
// the one expected.
bool DownloadToFile(IUrlFetcher& fetcher, IMessagePump& pump, const std::string& url,
                    const std::string& target, std::string* why = nullptr);

}  // namespace umbrane
