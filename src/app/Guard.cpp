#include "app/Guard.h"

#include <vector>

#include "app/ActivityLog.h"

namespace umbrane {

bool GiveBackAfterProgramEnded(IBrowserSwitch& browsers, IFileSystem& files, IClock& clock,
                               const std::string& dataPath) {
  if (!browsers.HasSavedState()) {
    return false;
  }
  std::vector<std::string> notes;
  browsers.SetSilent(true);
  browsers.SetReporter([&notes](const std::string& message) { notes.push_back(message); });
  if (browsers.SetBrowsersProxy(false, "", "", "").unreadableState.empty()) {
    notes.push_back(kGuardRestored);  // else the switch's note says why nothing was
  }
  // The program's run is over: its log is only added to, never replaced.
  const std::string stamp =
      FormatLogStamp(clock.Now(), clock.TimeSeparator(), clock.DateSeparator());
  std::string text;
  for (const std::string& note : notes) {
    text += FormatLogEntry(stamp, note) + "\r\n";
  }
  std::string error;
  (void)files.WriteFile(dataPath + "log.txt", text, WriteMode::Append, error);  // no one to tell
  return true;
}

}  // namespace umbrane
