// The activity log: one time-stamped entry per event of the run, kept in a
// line list and in "log.txt", which always holds the same lines as the list.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>

#include "base/LineList.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"

namespace umbrane {

// "hh:nn:ss:zzz yyyy/mm/dd" with the given time and date separators.
std::string FormatLogStamp(const LocalTime& time, char timeSeparator, char dateSeparator);
// "[ " + stamp + " ] " + message.
std::string FormatLogEntry(std::string_view stamp, std::string_view message);

// A log file that could not be written. The message names the file and the
// system's reason.
class LogWriteError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Keeps a file equal to a growing line list, held open for the run: the
// first write of a run replaces the file, and each new entry is one write at
// its end. Bytes that could not be written (a failed or cut-short write) wait
// and go out first with the next write, so nothing is lost or written twice.
class LogFile {
 public:
  LogFile(IFileSystem& files, std::string path) : files_(files), path_(std::move(path)) {}

  const std::string& Path() const { return path_; }
  // Brings the file up to `lines`; throws LogWriteError when it cannot. The
  // entries it could not write are kept for the next call.
  void Sync(const LineList& lines);

 private:
  IFileSystem& files_;
  std::string path_;
  std::unique_ptr<IOpenFile> file_;
  bool started_ = false;    // the file has been replaced in this run
  std::size_t queued_ = 0;  // entries of the list taken into pending_
  std::string pending_;     // their bytes not in the file yet
};

}  // namespace umbrane
