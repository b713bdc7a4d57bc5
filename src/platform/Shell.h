// Port: asking the shell to open a file or a web address in the program the
// user associated with it.
#pragma once

#include <string>

#include "platform/TopLevelWindows.h"

namespace umbrane {

class IShell {
 public:
  virtual ~IShell() = default;

  // The verb "OPEN" on `target`, shown normally; the outcome is not reported
  // because nothing the program does depends on it.
  virtual void Open(const std::string& target, WindowId parent) = 0;
};

}  // namespace umbrane
