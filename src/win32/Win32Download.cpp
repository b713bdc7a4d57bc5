#include "win32/Win32Download.h"

#include <windows.h>
#include <urlmon.h>

namespace umbrane::win32 {

bool Win32UrlFetcher::Fetch(const std::string& url, const std::string& file) {
  // No cache option, no proxy of its own, no callback: the system's
  // Internet settings apply.
  return URLDownloadToFileA(nullptr, url.c_str(), file.c_str(), 0, nullptr) == S_OK;
}

Win32MessagePump::Win32MessagePump() : wake_(CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}

void Win32MessagePump::DispatchUntil(const std::function<bool()>& done) {
  HANDLE wake = wake_.Get();
  bool quit = false;
  WPARAM quitCode = 0;
  while (!done()) {
    // Sleeps until the worker wakes us or any message arrives; the CPU idles
    // for the whole download instead of spinning.
    (void)MsgWaitForMultipleObjects(1, &wake, FALSE, INFINITE, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;  // kept for the outer loop, once the worker is done
        quitCode = msg.wParam;
        continue;
      }
      (void)TranslateMessage(&msg);
      (void)DispatchMessageA(&msg);
    }
  }
  if (quit) {
    PostQuitMessage(static_cast<int>(quitCode));
  }
}

void Win32MessagePump::Wake() {
  (void)SetEvent(wake_.Get());
}

}  // namespace umbrane::win32
