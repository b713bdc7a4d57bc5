// Runs a program of the host (Linux) from a test under Wine. Wine starts a
// file that is not a Windows program as a host process, but gives no handle
// to wait on: the program writes a file called "done" into its folder when
// it has finished, and the test waits for that file.
#pragma once

#include <windows.h>

#include <string>

#include "WaitFor.h"

namespace umbrane::testing {

// `script` and `folder` are host paths; the script gets `command` (when
// there is one) and the folder as its arguments. True when "done" appeared
// within `timeoutMs`.
inline bool RunOnHost(const std::string& script, const std::string& folder, DWORD timeoutMs,
                      const std::string& command = "") {
  const std::string done = HostPath(folder + "/done");
  (void)DeleteFileA(done.c_str());
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::string commandLine =
      "/bin/bash " + script + " " + (command.empty() ? "" : command + " ") + folder;
  if (!CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &info)) {
    return false;
  }
  // Handles Wine may still hand out for a host process are not needed.
  if (info.hProcess != nullptr) {
    (void)CloseHandle(info.hProcess);
    (void)CloseHandle(info.hThread);
  }
  return WaitFor([&] { return GetFileAttributesA(done.c_str()) != INVALID_FILE_ATTRIBUTES; },
                 timeoutMs);
}

}  // namespace umbrane::testing
