// The guard process on Windows: its file beside umbrane.exe, the named
// mutex of this user's that says one is running for this logon session
// (UserObjects.h), and its start.
#pragma once

#include <string>

namespace umbrane::win32 {

inline constexpr const char* kGuardExe = "umbrane-guard.exe";
inline constexpr const char* kGuardMutex = "Local\\UmbraneGuard";  // and "-" SID

// Starts the guard of this process for the data folder `dataPath`, unless
// one is running already (it is this program's: one program runs at a
// time, and a guard ends with its program). Empty on success, else why not.
std::string StartGuard(const std::string& appPath, const std::string& dataPath);

// At start no program runs, so a guard that still runs is giving back what
// the last one left: waits up to `ms` for it to finish, so the start-up's
// own recovery and log do not run beside it.
void WaitForEarlierGuard(unsigned ms);

}  // namespace umbrane::win32
