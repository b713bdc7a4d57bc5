#include "win32/Win32MessagePump.h"

namespace umbrane::win32 {

namespace {

// After the program is told to quit, how long it still waits for a fetch
// it has cancelled.
constexpr DWORD kQuitGraceMs = 3000;

}  // namespace

Win32MessagePump::Win32MessagePump() : wake_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

bool Win32MessagePump::DispatchUntil(const std::function<bool()>& done,
                                     const std::function<void()>& quitting) {
  HANDLE wake = wake_.Get();
  bool quit = false;
  WPARAM quitCode = 0;
  ULONGLONG giveUpAt = 0;
  while (!done()) {
    DWORD wait = INFINITE;
    if (quit) {
      const ULONGLONG now = GetTickCount64();
      if (now >= giveUpAt) {
        break;
      }
      wait = static_cast<DWORD>(giveUpAt - now);
    }
    // Sleeps until the worker wakes us or any message arrives; the CPU idles
    // for the whole download instead of spinning.
    (void)MsgWaitForMultipleObjects(1, &wake, FALSE, wait, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        if (!quit) {
          // Kept for the outer loop; the work is told to end, and waited
          // for only a little longer.
          quit = true;
          quitCode = msg.wParam;
          giveUpAt = GetTickCount64() + kQuitGraceMs;
          quitting();
        }
        continue;
      }
      (void)TranslateMessage(&msg);
      (void)DispatchMessageA(&msg);
    }
  }
  if (quit) {
    PostQuitMessage(static_cast<int>(quitCode));
  }
  return done();
}

void Win32MessagePump::Wake() {
  (void)SetEvent(wake_.Get());
}

}  // namespace umbrane::win32
