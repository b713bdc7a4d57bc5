// The process-list port on the Toolhelp snapshot functions of kernel32.dll,
// resolved by name at first use so that a system without them yields an
// empty list instead of a program that cannot load.
#pragma once

#include <cstdint>

#include "platform/ProcessList.h"

namespace umbrane::win32 {

class Win32ProcessList final : public IProcessList {
 public:
  std::vector<std::string> Names() override;
};

// The executable file name of process `pid`; empty when it is not listed.
std::string ProcessName(std::uint32_t pid);

}  // namespace umbrane::win32
