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
  while (!done()) {
    // Sleeps until the worker wakes us or any message arrives; the CPU idles
    // for the whole download instead of spinning.
    (void)MsgWaitForMultipleObjects(1, &wake, FALSE, INFINITE, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        PostQuitMessage(static_cast<int>(msg.wParam));  // for the outer loop
        break;
      }
      (void)TranslateMessage(&msg);
      (void)DispatchMessageA(&msg);
    }
  }
}

void Win32MessagePump::Wake() {
  (void)SetEvent(wake_.Get());
}

}  // namespace umbrane::win32
