#include "win32/Win32Download.h"

#include <windows.h>
#include <wininet.h>

#include <chrono>

#include "update/Download.h"
#include "win32/Win32FileSystem.h"

namespace umbrane::win32 {
namespace {

// After the program is told to quit, how long it still waits for a fetch
// it has cancelled.
constexpr DWORD kQuitGraceMs = 3000;

void SetTimeouts(HINTERNET handle, DWORD ms) {
  for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    (void)InternetSetOptionA(handle, option, &ms, sizeof ms);
  }
}

DWORD RemainingMs(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                        deadline - std::chrono::steady_clock::now())
                        .count();
  return static_cast<DWORD>(left > 0 ? left : 0);
}

// The answer's body, if its status is 2xx, it ends by `deadline` and it is
// no longer than kMaxReplyBytes.
bool ReadReply(HINTERNET request, std::chrono::steady_clock::time_point deadline,
               std::string& reply) {
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                      nullptr) ||
      status < 200 || status > 299) {
    return false;
  }
  char buffer[4096];
  for (;;) {
    const DWORD left = RemainingMs(deadline);
    if (left == 0) {
      return false;  // a service that never finishes
    }
    SetTimeouts(request, left);
    // Only what has arrived: a read for a whole buffer would wait for it to
    // fill, and a service that sends a byte now and then would hold it
    // forever.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request, &available, 0, 0)) {
      return false;
    }
    DWORD read = 0;
    if (!InternetReadFile(request, buffer,
                          available > 0 && available < sizeof buffer ? available : sizeof buffer,
                          &read)) {
      return false;
    }
    if (read == 0) {
      return true;
    }
    reply.append(buffer, read);
    if (reply.size() > kMaxReplyBytes) {
      return false;  // no update reply is that long: not read on
    }
  }
}

}  // namespace

bool Win32UrlFetcher::Fetch(const std::string& url, const std::string& file) {
  const auto deadline = std::chrono::steady_clock::now() + kFetchTime;
  // The system's Internet settings (its proxy too), no cache, no dialog;
  // the certificate of an https address is checked as the system checks it.
  HINTERNET session = InternetOpenA("Umbrane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
  if (session == nullptr) {
    return false;
  }
  {
    // The session is the fetcher's while the fetch runs, so that Cancel
    // can close it (which ends its request too).
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) {
      (void)InternetCloseHandle(session);
      return false;
    }
    session_ = session;
  }
  SetTimeouts(session, RemainingMs(deadline));
  HINTERNET request = InternetOpenUrlA(session, url.c_str(), nullptr, 0,
                                       INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                           INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI |
                                           INTERNET_FLAG_NO_COOKIES,
                                       0);
  std::string reply;
  const bool read = request != nullptr && ReadReply(request, deadline, reply);
  {
    // Closed here unless Cancel closed them already: once, by one of the two.
    std::lock_guard<std::mutex> lock(mutex_);
    if (session_ != nullptr) {
      if (request != nullptr) {
        (void)InternetCloseHandle(request);
      }
      (void)InternetCloseHandle(session_);
      session_ = nullptr;
    }
  }
  std::string error;
  return read && Win32FileSystem().WriteFile(file, reply, WriteMode::Replace, error);
}

void Win32UrlFetcher::Cancel() {
  std::lock_guard<std::mutex> lock(mutex_);
  cancelled_ = true;
  if (session_ != nullptr) {
    // Closing the session ends its requests: a call blocked in one returns.
    (void)InternetCloseHandle(session_);
    session_ = nullptr;
  }
}

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
