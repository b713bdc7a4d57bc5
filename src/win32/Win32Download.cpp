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

struct InternetHandle {
  HINTERNET handle;
  ~InternetHandle() {
    if (handle != nullptr) {
      (void)InternetCloseHandle(handle);
    }
  }
};

void SetTimeouts(HINTERNET handle, DWORD ms) {
  for (const DWORD option : {INTERNET_OPTION_CONNECT_TIMEOUT, INTERNET_OPTION_SEND_TIMEOUT,
                             INTERNET_OPTION_RECEIVE_TIMEOUT}) {
    (void)InternetSetOptionA(handle, option, &ms, sizeof ms);
  }
}

}  // namespace

bool Win32UrlFetcher::Fetch(const std::string& url, const std::string& file) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + kFetchTime;
  auto remainingMs = [&] {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return static_cast<DWORD>(left > 0 ? left : 0);
  };
  // The system's Internet settings (its proxy too), no cache, no dialog;
  // the certificate of an https address is checked as the system checks it.
  InternetHandle session{
      InternetOpenA("Umbrane", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0)};
  if (session.handle == nullptr) {
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (cancelled_) {
      return false;
    }
    session_ = session.handle;
  }
  struct Forget {
    Win32UrlFetcher& self;
    ~Forget() {
      std::lock_guard<std::mutex> lock(self.mutex_);
      self.session_ = nullptr;
    }
  } forget{*this};
  SetTimeouts(session.handle, remainingMs());
  InternetHandle request{InternetOpenUrlA(session.handle, url.c_str(), nullptr, 0,
                                          INTERNET_FLAG_RELOAD | INTERNET_FLAG_NO_CACHE_WRITE |
                                              INTERNET_FLAG_PRAGMA_NOCACHE | INTERNET_FLAG_NO_UI |
                                              INTERNET_FLAG_NO_COOKIES,
                                          0)};
  if (request.handle == nullptr) {
    return false;
  }
  DWORD status = 0;
  DWORD size = sizeof status;
  if (!HttpQueryInfoA(request.handle, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                      &size, nullptr) ||
      status < 200 || status > 299) {
    return false;
  }
  std::string reply;
  char buffer[4096];
  for (;;) {
    const DWORD left = remainingMs();
    if (left == 0) {
      return false;  // a service that never finishes
    }
    SetTimeouts(request.handle, left);
    // Only what has arrived: a read for a whole buffer would wait for it to
    // fill, and a service that sends a byte now and then would hold it
    // forever.
    DWORD available = 0;
    if (!InternetQueryDataAvailable(request.handle, &available, 0, 0)) {
      return false;
    }
    DWORD read = 0;
    if (!InternetReadFile(request.handle, buffer,
                          available > 0 && available < sizeof buffer ? available : sizeof buffer,
                          &read)) {
      return false;
    }
    if (read == 0) {
      break;
    }
    reply.append(buffer, read);
    if (reply.size() > kMaxReplyBytes) {
      return false;  // no update reply is that long: not read on
    }
  }
  std::string error;
  return Win32FileSystem().WriteFile(file, reply, WriteMode::Replace, error);
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
