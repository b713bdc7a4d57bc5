// One instance per logon session: a named mutex that the first instance
// holds until it ends.
#pragma once

#include "win32/Handle.h"

namespace umbrane::win32 {

class SingleInstance {
 public:
  explicit SingleInstance(const char* name)
      : mutex_(CreateMutexA(nullptr, TRUE, name)),
        alreadyRunning_(GetLastError() == ERROR_ALREADY_EXISTS) {}

  bool AlreadyRunning() const { return alreadyRunning_; }

 private:
  UniqueHandle mutex_;  // held for the whole run
  bool alreadyRunning_;
};

}  // namespace umbrane::win32
