#include "win32/Win32Clock.h"

#include <windows.h>

namespace umbrane::win32 {

namespace {

// The first character of a locale separator, or `fallback` when the locale
// has none.
char LocaleSeparator(LCTYPE type, char fallback) {
  char buffer[8] = {};
  if (GetLocaleInfoA(LOCALE_USER_DEFAULT, type, buffer, sizeof buffer) > 1) {
    return buffer[0];
  }
  return fallback;
}

}  // namespace

LocalTime Win32Clock::Now() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
}

std::int64_t Win32Clock::UnixTime() {
  FILETIME now;
  GetSystemTimeAsFileTime(&now);
  // 100-ns steps since 1601; 1970 is 11644473600 s later.
  const std::uint64_t ticks = (std::uint64_t{now.dwHighDateTime} << 32) | now.dwLowDateTime;
  return static_cast<std::int64_t>(ticks / 10'000'000) - 11'644'473'600;
}

char Win32Clock::TimeSeparator() {
  return LocaleSeparator(LOCALE_STIME, ':');
}

char Win32Clock::DateSeparator() {
  return LocaleSeparator(LOCALE_SDATE, '/');
}

}  // namespace umbrane::win32
