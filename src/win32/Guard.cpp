#include "win32/Guard.h"

#include <windows.h>

#include "win32/Handle.h"
#include "win32/SystemError.h"
#include "win32/UserObjects.h"

namespace umbrane::win32 {

std::string StartGuard(const std::string& appPath, const std::string& dataPath) {
  switch (SeeUserMutex(kGuardMutex)) {
    case MutexSeen::Ours:
      return {};
    case MutexSeen::NotOurs:
      return "another account on this computer has taken the guard's name";
    case MutexSeen::None:
      break;
  }
  const std::string exe = appPath + kGuardExe;
  std::string command =
      "\"" + exe + "\" " + std::to_string(GetCurrentProcessId()) + " \"" + dataPath + "\"";
  // Not in the folder of either program: it must not keep one from being
  // removed.
  char system[MAX_PATH + 1] = {};
  (void)GetSystemDirectoryA(system, MAX_PATH);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  // Out of any job this program runs in, so that it outlives the program
  // when a job ends with it; where the job does not allow that, inside it.
  for (DWORD flags :
       {DWORD{CREATE_NO_WINDOW | CREATE_BREAKAWAY_FROM_JOB}, DWORD{CREATE_NO_WINDOW}}) {
    if (CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, flags, nullptr, system,
                       &startup, &info)) {
      (void)CloseHandle(info.hThread);
      (void)CloseHandle(info.hProcess);
      return {};
    }
  }
  return SystemErrorText(GetLastError());
}

void WaitForEarlierGuard(unsigned ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (GetTickCount64() < end) {
    if (SeeUserMutex(kGuardMutex) != MutexSeen::Ours) {
      return;
    }
    Sleep(50);
  }
}

}  // namespace umbrane::win32
