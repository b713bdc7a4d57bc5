// The process-list port on the Toolhelp snapshot functions of kernel32.dll,
// resolved by name at first use so that a system without them yields an
// empty list instead of a program that cannot load.
#pragma once

#include "platform/ProcessList.h"

namespace umbrane::win32 {

class Win32ProcessList final : public IProcessList {
 public:
  std::vector<std::string> Names() override;
};

}  // namespace umbrane::win32
