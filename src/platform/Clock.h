// Port: the local date and time, and the user's regional separators that
// the activity log's time stamps use.
#pragma once

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
  virtual char TimeSeparator() = 0;
  virtual char DateSeparator() = 0;
};

}  // namespace umbrane
