// Which local clients the proxy serves, and what it tells Umbrane about the
// ones it does not. The proxy carries this user's credentials and tunnel:
// a program of another user must not borrow them, and neither may one
// whose owner the system cannot name (another user can make the system's
// answer fail on purpose). Only a test build, where the system names no
// owner of host programs (Wine), may serve unnamed clients, and says so.
#pragma once

#include <chrono>
#include <string>

namespace warden {

enum class Owner {
  ThisUser,   // a program of the user who started the agent
  OtherUser,  // anyone else: refused before a byte reaches the relay
  Gone,       // the client's end is no longer there: nothing to serve
  Unknown,    // the system does not say
};

struct OwnerVerdict {
  Owner owner = Owner::Unknown;
  std::string who;  // the other user, for the log ("uid 1001"), or why unknown
};

struct Admission {
  bool serve = false;
  const char* code = nullptr;  // a status line to print, or none
  std::string text;
};

class Admissions {
 public:
  using Clock = std::chrono::steady_clock;
  explicit Admissions(bool serveUnnamed) : serveUnnamed_(serveUnnamed) {}

  // What to do with a client whose owner is `verdict`, at `now`. Refusals
  // are told at most once a minute (a program that keeps trying must not
  // flood what Umbrane reads), with the count of those not told.
  Admission Admit(const OwnerVerdict& verdict, Clock::time_point now);

 private:
  bool serveUnnamed_;
  bool unnamedTold_ = false;
  bool refusalTold_ = false;
  Clock::time_point lastRefusalNote_{};
  unsigned untoldRefusals_ = 0;  // since the last note
};

}  // namespace warden
