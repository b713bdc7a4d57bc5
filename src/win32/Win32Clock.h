// The clock port: local time and the user's regional separators.
#pragma once

#include "platform/Clock.h"

namespace umbrane::win32 {

class Win32Clock final : public IClock {
 public:
  LocalTime Now() override;
  std::int64_t UnixTime() override;
  char TimeSeparator() override;
  char DateSeparator() override;
};

}  // namespace umbrane::win32
