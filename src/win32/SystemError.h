// The system's own text for an error code, for messages a person reads.
#pragma once

#include <windows.h>

#include <string>

namespace umbrane::win32 {

inline std::string SystemErrorText(DWORD code) {
  char* buffer = nullptr;
  const DWORD length = FormatMessageA(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
      nullptr, code, 0, reinterpret_cast<char*>(&buffer), 0, nullptr);
  std::string text =
      length != 0 ? std::string(buffer, length) : "System error " + std::to_string(code) + ".";
  if (buffer != nullptr) {
    (void)LocalFree(buffer);
  }
  while (!text.empty() && (text.back() == '\r' || text.back() == '\n' || text.back() == ' ')) {
    text.pop_back();
  }
  return text;
}

}  // namespace umbrane::win32
