// umbrane-guard.exe: started by umbrane.exe as `"guard" PID "DATA FOLDER\"`
// once the browsers' settings are saved. No window, no dialog. It waits for
// the program to end and gives the browsers back if the program did not.
#include <windows.h>

#include <cstdlib>
#include <string>

#include "app/Guard.h"
#include "base/Text.h"
#include "proxy/BrowserSwitch.h"
#include "win32/Guard.h"
#include "win32/UserObjects.h"
#include "win32/Handle.h"
#include "win32/Win32Clock.h"
#include "win32/Win32Dialogs.h"
#include "win32/Win32FileSystem.h"
#include "win32/Win32InternetSettings.h"
#include "win32/Win32ProcessList.h"
#include "win32/Win32Profile.h"
#include "win32/Win32Registry.h"
#include "win32/Win32System.h"
#include "win32/Win32TopLevelWindows.h"

using namespace umbrane;

namespace {

constexpr DWORD kPollMs = 250;

struct Arguments {
  DWORD program = 0;
  std::string dataPath;
};

// The command line after the program's own path.
bool Parse(const std::string& line, Arguments& out) {
  std::size_t pos = 0;
  if (!line.empty() && line[0] == '"') {
    pos = line.find('"', 1);
    pos = pos == std::string::npos ? line.size() : pos + 1;
  } else {
    pos = line.find(' ');
    pos = pos == std::string::npos ? line.size() : pos;
  }
  char* end = nullptr;
  const unsigned long pid = std::strtoul(line.c_str() + pos, &end, 10);
  std::string rest = end != nullptr ? std::string(end) : std::string();
  const std::size_t first = rest.find_first_not_of(' ');
  rest = first == std::string::npos ? std::string() : rest.substr(first);
  if (!rest.empty() && rest.front() == '"') {
    rest.erase(0, 1);
  }
  if (!rest.empty() && rest.back() == '"') {
    rest.pop_back();
  }
  out.program = static_cast<DWORD>(pid);
  out.dataPath = AddTrailingBackslash(rest);
  return pid != 0 && rest.size() > 1;
}

// Claims the guard's place; null when another guard has it.
HANDLE ClaimPlace() {
  HANDLE mutex = nullptr;
  if (win32::ClaimUserMutex(win32::kGuardMutex, false, mutex) != win32::MutexClaim::Created) {
    // Another guard of ours has the place, or another account the name.
    if (mutex != nullptr) {
      (void)CloseHandle(mutex);
    }
    return nullptr;
  }
  return mutex;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  Arguments args;
  if (!Parse(GetCommandLineA(), args)) {
    return 2;
  }
  win32::UniqueHandle place(ClaimPlace());
  if (!place.Valid()) {
    return 0;  // one guard is enough
  }
  win32::Win32FileSystem files;
  const std::string state = args.dataPath + kStateFileName;
  // A program that is gone already (or cannot be watched) ended before the
  // guard could see it end.
  win32::UniqueHandle program(OpenProcess(SYNCHRONIZE, FALSE, args.program));
  while (program.Valid() && WaitForSingleObject(program.Get(), kPollMs) == WAIT_TIMEOUT) {
    if (files.FileExists(state)) {
      continue;
    }
    // The program gave the browsers back. Give up the place first, then
    // look again: an apply that wrote the state meanwhile found the place
    // taken and started no guard, so this one carries on.
    place.Reset(nullptr);
    if (!files.FileExists(state)) {
      return 0;
    }
    place.Reset(ClaimPlace());
    if (!place.Valid()) {
      return 0;
    }
  }

  win32::Win32Profile profile;
  win32::Win32System system;
  win32::Win32InternetSettings internet;
  win32::Win32ProcessList processes;
  win32::Win32TopLevelWindows windows;
  win32::Win32Registry registry;
  win32::Win32Dialogs dialogs;  // never shown: the restore is silent
  win32::Win32Clock clock;
  const std::string appPath = ExtractFilePath(system.ExecutablePath());
  const std::string noSkin;
  BrowserSwitch browsers(
      BrowserPorts{internet, files, profile, system, processes, windows, registry, dialogs},
      BrowserContext{appPath, noSkin, args.dataPath});
  (void)GiveBackAfterProgramEnded(browsers, files, clock, args.dataPath);
  return 0;
}
