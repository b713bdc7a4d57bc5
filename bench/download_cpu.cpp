// CPU used by the user-interface thread while it waits for a slow download:
// the earlier wait (dispatch what is queued, test the flag, again, without
// ever sleeping) against the message pump the program uses now (sleeps in
// MsgWaitForMultipleObjects until a message or the worker wakes it).
//
// Needs the local update service in "slow N" mode on 127.0.0.1:8808; run it
// with bench/download_cpu.sh.
#include <windows.h>

#include <cstdio>
#include <string>

#include "update/Download.h"
#include "update/UpdateReply.h"
#include "win32/Win32Download.h"

namespace {

// The wait as it was: keep dispatching, never sleep.
class SpinningPump final : public umbrane::IMessagePump {
 public:
  bool DispatchUntil(const std::function<bool()>& done, const std::function<void()>&) override {
    while (!done()) {
      MSG msg;
      while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
      }
    }
    return true;
  }
  void Wake() override {}
};

double CpuSeconds() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto seconds = [](const FILETIME& t) {
    return (static_cast<double>(t.dwHighDateTime) * 4294967296.0 + t.dwLowDateTime) / 1e7;
  };
  return seconds(kernel) + seconds(user);
}

void Measure(const char* name, umbrane::IMessagePump& pump, const std::string& target) {
  umbrane::win32::Win32UrlFetcher fetcher(umbrane::BuiltUpdatePins());
  const double cpu0 = CpuSeconds();
  const ULONGLONG wall0 = GetTickCount64();
  const bool ok = umbrane::DownloadToFile(fetcher, pump,
                                          "http://127.0.0.1:8808/soa/update.php?bench=1", target);
  const double wall = static_cast<double>(GetTickCount64() - wall0) / 1000.0;
  const double cpu = CpuSeconds() - cpu0;
  std::printf("%-28s %s  wall %5.2f s  cpu %5.2f s  = %5.1f %% of one core\n", name,
              ok ? "ok    " : "failed", wall, cpu, 100.0 * cpu / wall);
}

}  // namespace

int main() {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  const std::string target = std::string(temp) + "umbrane-bench.temp";
  SpinningPump spinning;
  umbrane::win32::Win32MessagePump waiting;
  Measure("before (spinning wait)", spinning, target);
  Measure("after (MsgWaitForMultiple)", waiting, target);
  DeleteFileA(target.c_str());
  return 0;
}
