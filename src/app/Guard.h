// The guard: a small process without a window that the program starts once
// the browsers' settings are saved (the browsers are about to be switched to
// the tunnel). It waits for the program to end. If the program ends while the
// saved state still exists (killed, crashed, ended from the Task Manager), the
// guard gives every browser back from that state, with the same switch the
// program uses, and says so in the activity log; if the program gives the
// browsers back itself, the state goes and the guard ends with nothing done.
#pragma once

#include <string>

#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "proxy/BrowserSwitch.h"

namespace umbrane {

inline constexpr const char* kGuardRestored = "Browsers restored: Umbrane ended while they used it";

// What the guard does once the program has ended: a silent restore from the
// saved state (no restart notice: nobody is there to answer it), then the
// switch's notes and one line of its own appended to "log.txt" in
// `dataPath`. False, with nothing touched, when no state was saved.
bool GiveBackAfterProgramEnded(IBrowserSwitch& browsers, IFileSystem& files, IClock& clock,
                               const std::string& dataPath);

}  // namespace umbrane
