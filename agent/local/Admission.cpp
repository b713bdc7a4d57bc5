#include "local/Admission.h"

#include <utility>

#include "common/Limits.h"
#include "common/Status.h"

namespace warden {

Admission Admissions::Admit(const OwnerVerdict& verdict, Clock::time_point now) {
  std::string refusal;
  switch (verdict.owner) {
    case Owner::ThisUser:
      return {true, nullptr, {}};
    case Owner::Gone:
      return {false, nullptr, {}};
    case Owner::Unknown:
      if (serveUnnamed_) {
        Admission served{true, nullptr, {}};
        if (!std::exchange(unnamedTold_, true)) {
          served.code = status::kQuiet;
          served.text
              .append("the system does not say whose program a local connection comes from (")
              .append(verdict.who)
              .append("): this test build serves every local program");
        }
        return served;
      }
      refusal.append("refused a connection from ")
          .append(status::kOwnerUnknown)
          .append(" (")
          .append(verdict.who)
          .append(")");
      break;
    case Owner::OtherUser:
      refusal.append("refused a connection from another user's program (")
          .append(verdict.who)
          .append(")");
      break;
  }
  if (refusalTold_ && now - lastRefusalNote_ < kRefusalNoteEvery) {
    ++untoldRefusals_;
    return {false, nullptr, {}};
  }
  if (untoldRefusals_ > 0) {
    refusal.append("; ")
        .append(std::to_string(untoldRefusals_))
        .append(" more since the last such note");
  }
  refusalTold_ = true;
  lastRefusalNote_ = now;
  untoldRefusals_ = 0;
  return {false, status::kRefusedStranger, refusal};
}

}  // namespace warden
