// Drives umbrane.exe from outside under Wine, the way automation would:
// start it, find its windows, post it commands, wait for it to end, and read
// its activity log.
#pragma once

#include <windows.h>
#include <shlobj.h>
#include <tlhelp32.h>

#include <string>
#include <vector>

#include "WaitFor.h"
#include "app/Commands.h"
#include "base/LineList.h"
#include "win32/Handle.h"
#include "win32/Win32FileSystem.h"

namespace umbrane::e2e {

using win32::UniqueHandle;

inline const std::string kUmbraneExe = umbrane::testing::HostPath(UMBRANE_EXE);

inline std::string LogPath() {
  char appData[MAX_PATH] = {};
  (void)SHGetSpecialFolderPathA(nullptr, appData, CSIDL_APPDATA, FALSE);
  return std::string(appData) + "\\Umbrane\\log.txt";
}

// Opera's PAC file: the user's own, beside the log.
inline std::string UserPac() {
  const std::string log = LogPath();
  return log.substr(0, log.find_last_of('\\') + 1) + "umbrane.pac";
}

inline std::vector<std::string> LogEntries() {
  LineList lines;
  lines.SetText(win32::Win32FileSystem().ReadFile(LogPath()).value_or(""));
  return lines.Lines();
}

// The message of an entry: what follows "] ".
inline std::string Message(const std::string& entry) {
  const auto pos = entry.find("] ");
  return pos == std::string::npos ? entry : entry.substr(pos + 2);
}

// Log messages from the first entry that follows the update check's result.
inline std::vector<std::string> MessagesAfterUpdate() {
  std::vector<std::string> messages;
  bool after = false;
  for (const std::string& entry : LogEntries()) {
    const std::string message = Message(entry);
    if (after) {
      messages.push_back(message);
    }
    after = after || message == "SilentUpdate Failed!" || message == "SilentUpdate Successfully!";
  }
  return messages;
}

// Waits until the update check at start-up has logged its result.
inline bool WaitForUpdateDone() {
  return umbrane::testing::WaitFor([] {
    for (const std::string& entry : LogEntries()) {
      const std::string message = Message(entry);
      if (message == "SilentUpdate Failed!" || message == "SilentUpdate Successfully!") {
        return true;
      }
    }
    return false;
  });
}

// Puts umbrane.exe, its skin and the stand-in agent with `agentScript` into
// `folder` (which ends in a backslash); false when a copy fails.
inline bool InstallProgram(const std::string& folder, const std::string& agentScript,
                           const std::string& agent = UMBRANE_STAND_IN_AGENT) {
  const std::string bin = kUmbraneExe.substr(0, kUmbraneExe.find_last_of('\\') + 1);
  for (const char* file : {"umbrane.exe", "umbrane-guard.exe", "default.skn"}) {
    if (!CopyFileA((bin + file).c_str(), (folder + file).c_str(), FALSE)) {
      return false;
    }
  }
  if (!CopyFileA(umbrane::testing::HostPath(agent).c_str(), (folder + "warden.exe").c_str(),
                 FALSE)) {
    return false;
  }
  std::string error;
  return win32::Win32FileSystem().WriteFile(folder + "warden.script", agentScript,
                                            WriteMode::Replace, error);
}

struct Running {
  UniqueHandle process;
  DWORD id = 0;
};

inline Running Start(const std::string& exe, const std::string& arguments = "") {
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::string commandLine = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
  Running running;
  if (CreateProcessA(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                     &startup, &info)) {
    running.process.Reset(info.hProcess);
    (void)CloseHandle(info.hThread);
    running.id = info.dwProcessId;
  }
  return running;
}

// Top-level windows of `process`, optionally only those of `className`.
inline std::vector<HWND> WindowsOf(DWORD process, const char* className = nullptr) {
  struct Search {
    DWORD process;
    const char* className;
    std::vector<HWND> found;
  } search{process, className, {}};
  (void)EnumWindows(
      [](HWND hwnd, LPARAM param) -> BOOL {
        auto* s = reinterpret_cast<Search*>(param);
        DWORD owner = 0;
        (void)GetWindowThreadProcessId(hwnd, &owner);
        char name[64] = {};
        (void)GetClassNameA(hwnd, name, sizeof name);
        if (owner == s->process && (s->className == nullptr || lstrcmpA(name, s->className) == 0)) {
          s->found.push_back(hwnd);
        }
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

// The texts of the program's message boxes, each in brackets.
inline std::string BoxTexts(DWORD process) {
  std::string texts;
  for (HWND box : WindowsOf(process, "#32770")) {
    char text[512] = {};
    (void)GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
    texts += std::string("[") + text + "] ";
  }
  return texts;
}

// Answers OK to every message box of `process`.
inline void CloseBoxes(DWORD process) {
  for (HWND box : WindowsOf(process, "#32770")) {
    (void)PostMessageA(box, WM_COMMAND, IDOK, 0);
  }
}

inline HWND WaitForMainWindow(const Running& running) {
  HWND main = nullptr;
  umbrane::testing::WaitFor([&] {
    const auto found = WindowsOf(running.id, "TfrmMain");
    main = found.empty() ? nullptr : found.front();
    return main != nullptr;
  });
  return main;
}

// Installs the program with the real agent into `folder`, starts it (with a
// fresh log), connects and waits for "Umbrane ON". The main window, or
// null when it did not come up or did not switch on in time.
inline HWND StartAndConnectRealAgent(const std::string& folder, Running& umbrane) {
  (void)DeleteFileA(LogPath().c_str());
  if (!InstallProgram(folder, "", UMBRANE_REAL_AGENT)) {
    return nullptr;
  }
  umbrane = Start(folder + "umbrane.exe");
  HWND main = WaitForMainWindow(umbrane);
  if (main == nullptr || !WaitForUpdateDone() || !PostMessageA(main, WM_COMMAND, kCmdUmbrane1, 0)) {
    return nullptr;
  }
  const bool on = umbrane::testing::WaitFor(
      [] {
        const auto messages = MessagesAfterUpdate();
        return !messages.empty() && messages.back() == "Umbrane ON";
      },
      20000);
  return on ? main : nullptr;
}

// Ends every running agent as a crash would; how many there were.
inline int KillAgents() {
  int killed = 0;
  UniqueHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot.Get(), &entry); more;
       more = Process32Next(snapshot.Get(), &entry)) {
    if (lstrcmpiA(entry.szExeFile, "warden.exe") == 0) {
      UniqueHandle agent(OpenProcess(PROCESS_TERMINATE, FALSE, entry.th32ProcessID));
      killed += agent.Valid() && TerminateProcess(agent.Get(), 1) ? 1 : 0;
    }
  }
  return killed;
}

inline DWORD WaitForExit(const Running& running) {
  DWORD code = STILL_ACTIVE;
  if (WaitForSingleObject(running.process.Get(), 15000) == WAIT_OBJECT_0) {
    (void)GetExitCodeProcess(running.process.Get(), &code);
  }
  return code;
}

}  // namespace umbrane::e2e
