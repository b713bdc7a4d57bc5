#include "win32/Win32TopLevelWindows.h"

#include <windows.h>

#include <vector>

namespace umbrane::win32 {

namespace {

HWND ToHwnd(WindowId window) {
  return reinterpret_cast<HWND>(window);
}
WindowId ToId(HWND window) {
  return reinterpret_cast<WindowId>(window);
}

}  // namespace

WindowId Win32TopLevelWindows::First() {
  return ToId(FindWindowA(nullptr, nullptr));
}

WindowId Win32TopLevelWindows::Next(WindowId window) {
  return ToId(GetWindow(ToHwnd(window), GW_HWNDNEXT));
}

std::string Win32TopLevelWindows::Title(WindowId window) {
  char buffer[255] = {};
  const int length = GetWindowTextA(ToHwnd(window), buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string Win32TopLevelWindows::ClassName(WindowId window) {
  char buffer[256] = {};
  const int length = GetClassNameA(ToHwnd(window), buffer, sizeof buffer);
  return std::string(buffer, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string Win32TopLevelWindows::ProgramName(WindowId window) {
  DWORD id = 0;
  if (GetWindowThreadProcessId(ToHwnd(window), &id) == 0 || id == 0) {
    return {};
  }
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id);
  if (process == nullptr) {
    return {};
  }
  wchar_t path[MAX_PATH] = {};
  DWORD length = MAX_PATH;
  const BOOL named = QueryFullProcessImageNameW(process, 0, path, &length);
  (void)CloseHandle(process);
  if (!named) {
    return {};
  }
  // Only the file name is compared, and only with an ASCII name: a name
  // outside ASCII is never the one looked for, whatever the code page.
  std::string name;
  for (const wchar_t* c = path; *c != L'\0'; ++c) {
    if (*c == L'\\' || *c == L'/') {
      name.clear();
    } else {
      name += *c < 0x80 ? static_cast<char>(*c) : '?';
    }
  }
  return name;
}

bool Win32TopLevelWindows::BringToForeground(WindowId window) {
  // The system may refuse the switch and only flash the task-bar button;
  // what counts is which window is in front afterwards. A window of another
  // process may come to the front a moment after the call returns: the
  // keys wait for it, briefly.
  if (!SetForegroundWindow(ToHwnd(window))) {
    return GetForegroundWindow() == ToHwnd(window);
  }
  for (int waited = 0; GetForegroundWindow() != ToHwnd(window) && waited < 500; waited += 10) {
    Sleep(10);
  }
  return GetForegroundWindow() == ToHwnd(window);
}

void Win32TopLevelWindows::SendKeys(const std::vector<KeyStroke>& keys) {
  std::vector<INPUT> inputs(keys.size());
  for (std::size_t i = 0; i < keys.size(); ++i) {
    inputs[i].type = INPUT_KEYBOARD;
    inputs[i].ki.wVk = keys[i].virtualKey;
    inputs[i].ki.dwFlags = keys[i].up ? KEYEVENTF_KEYUP : 0;
  }
  (void)SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
}

}  // namespace umbrane::win32
