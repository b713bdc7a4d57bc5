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
  const bool replace = !started_;
  const std::string data = lines.TextFrom(replace ? 0 : written_);
  std::string error;
  if (!files_.WriteFile(path_, data, replace ? WriteMode::Replace : WriteMode::Append, error)) {
    throw LogWriteError("Cannot write file \"" + path_ + "\". " + error);
  }
  started_ = true;
  written_ = lines.Count();
}

}  // namespace umbrane
