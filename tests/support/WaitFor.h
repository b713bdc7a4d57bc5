// Helpers of the tests that run under Wine: waiting for a condition with a
// bounded deadline (never a fixed sleep), and host paths as Windows paths.
#pragma once

#include <windows.h>

#include <string>

namespace umbrane::testing {

// Polls `condition` every 20 ms until it holds or `timeoutMs` has passed.
template <typename Condition>
bool WaitFor(Condition condition, DWORD timeoutMs = 10000) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  for (;;) {
    if (condition()) {
      return true;
    }
    if (GetTickCount64() >= deadline) {
      return false;
    }
    Sleep(20);
  }
}

// A host path ("/work/x") as Wine shows it ("Z:\work\x").
inline std::string HostPath(const std::string& unixPath) {
  std::string path = "Z:" + unixPath;
  for (char& c : path) {
    if (c == '/') {
      c = '\\';
    }
  }
  return path;
}

}  // namespace umbrane::testing
