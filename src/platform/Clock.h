// Port: the local date and time, and the user's regional separators that
// the activity log's time stamps use.
#pragma once

#include <cstdint>

namespace umbrane {

struct LocalTime {
  unsigned year = 0;
  unsigned month = 0;
  unsigned day = 0;
  unsigned hour = 0;
  unsigned minute = 0;
  unsigned second = 0;
  unsigned millisecond = 0;
};

class IClock {
 public:
  virtual ~IClock() = default;

  virtual LocalTime Now() = 0;
  // Seconds since 1970-01-01 UTC, what the update service's replies count.
  virtual std::int64_t UnixTime() = 0;
  virtual char TimeSeparator() = 0;
  virtual char DateSeparator() = 0;
};

}  // namespace umbrane
