// The activity log: one time-stamped entry per event of the run, added to a
// line list and written from there to "log.txt".
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

// Writes the entries of a line list to a file held open for the run, and
// takes out of the list what has reached the file: nothing reads the log
// back, so a run of weeks keeps only what could not be written yet. The
// first write of a run replaces the file, and each new entry is one write
// at its end. What a failed or cut-short write did not take goes out first
// with the next write, so nothing is lost or written twice. The file is
// capped: the entry that would take it past `maxBytes` starts a new one,
// and the older file becomes "log.1.txt" (replacing an older one).
class LogFile {
 public:
  static constexpr std::size_t kMaxBytes = 8 * 1024 * 1024;

  LogFile(IFileSystem& files, std::string path, std::size_t maxBytes = kMaxBytes)
      : files_(files), path_(std::move(path)), maxBytes_(maxBytes) {}

  const std::string& Path() const { return path_; }
  // Where the older entries go: "log.txt" -> "log.1.txt".
  std::string OlderPath() const;
  // Brings the entries of `lines` to the file and takes out those that
  // reached it; throws LogWriteError when it cannot. What it could not
  // write stays in the list for the next call.
  void Sync(LineList& lines);

 private:
  void StartNewFileIfFull(std::size_t coming);

  IFileSystem& files_;
  std::string path_;
  std::size_t maxBytes_;
  std::unique_ptr<IOpenFile> file_;
  bool started_ = false;     // the file has been replaced in this run
  std::size_t size_ = 0;     // bytes this run has put in the file
  std::size_t partial_ = 0;  // bytes of the list's first entry already in it
};

}  // namespace umbrane
