// One instance per user and logon session: a named mutex of this user's
// alone (UserObjects.h) that the first instance holds until it ends.
#pragma once

#include "win32/Handle.h"
#include "win32/UserObjects.h"

namespace umbrane::win32 {

class SingleInstance {
 public:
  explicit SingleInstance(const char* name) {
    HANDLE mutex = nullptr;
    claim_ = ClaimUserMutex(name, true, mutex);
    mutex_.Reset(mutex);
  }

  bool AlreadyRunning() const { return claim_ == MutexClaim::OursAlready; }
  // Another account made an object under this user's name first.
  bool NameTaken() const { return claim_ == MutexClaim::NotOurs; }

 private:
  UniqueHandle mutex_;  // held for the whole run
  MutexClaim claim_;
};

}  // namespace umbrane::win32
