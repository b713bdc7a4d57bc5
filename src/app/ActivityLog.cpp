#include "app/ActivityLog.h"

#include "base/Text.h"

namespace umbrane {

std::string FormatLogStamp(const LocalTime& t, char timeSeparator, char dateSeparator) {
  std::string stamp;
  stamp.reserve(23);
  stamp += ZeroPad(t.hour, 2);
  stamp += timeSeparator;
  stamp += ZeroPad(t.minute, 2);
  stamp += timeSeparator;
  stamp += ZeroPad(t.second, 2);
  stamp += timeSeparator;
  stamp += ZeroPad(t.millisecond, 3);
  stamp += ' ';
  stamp += ZeroPad(t.year, 4);
  stamp += dateSeparator;
  stamp += ZeroPad(t.month, 2);
  stamp += dateSeparator;
  stamp += ZeroPad(t.day, 2);
  return stamp;
}

std::string FormatLogEntry(std::string_view stamp, std::string_view message) {
  std::string entry = "[ ";
  entry += stamp;
  entry += " ] ";
  entry += message;
  return entry;
}

void LogFile::Sync(const LineList& lines) {
  pending_ += lines.TextFrom(queued_);
  queued_ = lines.Count();
  std::string error;
  if (!file_) {
    file_ = files_.OpenForAppend(path_, !started_, error);
    if (!file_) {
      throw LogWriteError("Cannot write file \"" + path_ + "\". " + error);
    }
    started_ = true;
  }
  const std::size_t written = file_->Append(pending_, error);
  pending_.erase(0, written);
  if (!pending_.empty()) {
    // Opened afresh next time (the handle may be what failed), at the end of
    // what did reach the file.
    file_.reset();
    throw LogWriteError("Cannot write file \"" + path_ + "\". " + error);
  }
}

}  // namespace umbrane
