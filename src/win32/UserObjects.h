// Named objects of this user's alone. A name in the session's namespace is
// open to every account signed in to it: another account could create our
// mutex first, and then no program (or no guard) of ours would run. So each
// name carries the user's identity (the text of their SID), each object is
// made with a security descriptor that lets only this user in, and an
// object found under our name that another account owns is not taken for
// ours.
#pragma once

#include <windows.h>

#include <string>

namespace umbrane::win32 {

// The SID of the user this process runs as ("S-1-5-21-..."); empty when the
// system does not say.
std::string CurrentUserSid();

// `base` followed by "-" and the user's SID.
std::string UserObjectName(const std::string& base);

// Security attributes that give this user every right and nobody else any
// (a protected list: nothing inherited), not inheritable.
class UserOnlySecurity {
 public:
  UserOnlySecurity();
  ~UserOnlySecurity();
  UserOnlySecurity(const UserOnlySecurity&) = delete;
  UserOnlySecurity& operator=(const UserOnlySecurity&) = delete;

  // Null when the descriptor could not be made (then nothing is created).
  SECURITY_ATTRIBUTES* Attributes() { return descriptor_ != nullptr ? &attributes_ : nullptr; }

 private:
  PSECURITY_DESCRIPTOR descriptor_ = nullptr;
  SECURITY_ATTRIBUTES attributes_ = {};
};

enum class MutexClaim {
  Created,      // ours, new
  OursAlready,  // ours, made earlier by a program of this user's
  NotOurs,      // under our name, but another account's (or closed to us)
  Failed,       // the system made none
};

// Creates the user-only mutex `base` + SID (owned at once when `own`); the
// handle is put into `mutex` in the first two cases.
MutexClaim ClaimUserMutex(const std::string& base, bool own, HANDLE& mutex);

// Who other than this user, the system, the administrators and the
// installer service may change a folder with `owner` and access `list`
// (add, replace or remove what it holds, or change who may): an account's
// name, or empty for nobody. A missing list keeps nothing from anyone.
std::string OthersWhoMayChange(PSID owner, PACL list);

enum class MutexSeen { None, Ours, NotOurs };

// Whether the mutex `base` + SID exists, and whose it is.
MutexSeen SeeUserMutex(const std::string& base);

}  // namespace umbrane::win32
