// The activity log: one time-stamped entry per event of the run, kept in a
// line list and in "log.txt", which always holds the same lines as the list.
#pragma once

#include <cstddef>
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

// Keeps a file equal to a growing line list without rewriting it for every
// entry: the first write of a run replaces the file, later ones append only
// the entries the file does not have yet. After a failed write the missing
// entries go out with the next successful one.
class LogFile {
 public:
  LogFile(IFileSystem& files, std::string path) : files_(files), path_(std::move(path)) {}

  const std::string& Path() const { return path_; }
  // Brings the file up to `lines`; throws LogWriteError when it cannot.
  void Sync(const LineList& lines);

 private:
  IFileSystem& files_;
  std::string path_;
  bool started_ = false;     // the file has been replaced in this run
  std::size_t written_ = 0;  // entries known to be in the file
};

}  // namespace umbrane
