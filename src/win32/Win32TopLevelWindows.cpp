#include "win32/Win32TopLevelWindows.h"

#include <windows.h>

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

}  // namespace umbrane::win32
