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

bool Win32TopLevelWindows::BringToForeground(WindowId window) {
  // The system may refuse the switch and only flash the task-bar button;
  // what counts is which window is in front afterwards.
  (void)SetForegroundWindow(ToHwnd(window));
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
