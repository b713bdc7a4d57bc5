// How many icons Wine's stand-alone system tray window shows. Without a
// desktop shell, Wine puts each notification icon into that window as a
// child window, which is how the tests see icons come and go.
#pragma once

#include <windows.h>

namespace umbrane::testing {

inline int WineTrayIconCount() {
  HWND tray = FindWindowA("__winex11_standalone_tray", nullptr);
  int count = 0;
  for (HWND icon = FindWindowExA(tray, nullptr, "__winex11_tray_icon", nullptr);
       tray != nullptr && icon != nullptr;
       icon = FindWindowExA(tray, icon, "__winex11_tray_icon", nullptr)) {
    count += IsWindowVisible(icon) ? 1 : 0;
  }
  return count;
}

// Handles the calling thread's queued messages for about `ms` milliseconds.
inline void PumpMessages(DWORD ms) {
  const ULONGLONG end = GetTickCount64() + ms;
  while (GetTickCount64() < end) {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    Sleep(10);
  }
}

}  // namespace umbrane::testing
