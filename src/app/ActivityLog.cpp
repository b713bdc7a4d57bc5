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

std::string LogFile::OlderPath() const {
  constexpr std::string_view kExtension = ".txt";
  if (path_.size() >= kExtension.size() &&
      path_.compare(path_.size() - kExtension.size(), kExtension.size(), kExtension) == 0) {
    return path_.substr(0, path_.size() - kExtension.size()) + ".1" + std::string(kExtension);
  }
  return path_ + ".1";
}

void LogFile::StartNewFileIfFull(std::size_t coming) {
  if (size_ == 0 || size_ + coming <= maxBytes_) {
    return;
  }
  file_.reset();
  // A file another program holds open cannot be renamed: it grows on, and
  // the next entry tries again.
  if (files_.RenameFile(path_, OlderPath())) {
    started_ = false;
    size_ = 0;
  }
}

void LogFile::Sync(LineList& lines) {
  const std::string text = lines.Text().substr(partial_);
  StartNewFileIfFull(text.size());
  std::string error;
  if (!file_) {
    file_ = files_.OpenForAppend(path_, !started_, error);
    if (!file_) {
      throw LogWriteError("Cannot write file \"" + path_ + "\". " + error);
    }
    started_ = true;
  }
  const std::size_t written = file_->Append(text, error);
  size_ += written;
  // Entries wholly in the file leave the list; of one cut short, how much
  // is in the file is remembered, so the rest follows and nothing twice.
  std::size_t done = partial_ + written;
  std::size_t whole = 0;
  while (whole < lines.Count() && lines[whole].size() + 2 <= done) {
    done -= lines[whole].size() + 2;
    ++whole;
  }
  lines.RemoveFirst(whole);
  partial_ = done;
  if (written < text.size()) {
    // Opened afresh next time (the handle may be what failed), at the end of
    // what did reach the file.
    file_.reset();
    throw LogWriteError("Cannot write file \"" + path_ + "\". " + error);
  }
}

}  // namespace umbrane
