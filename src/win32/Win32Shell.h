// The shell port on ShellExecuteA.
#pragma once

#include "platform/Shell.h"

namespace umbrane::win32 {

class Win32Shell final : public IShell {
 public:
  void Open(const std::string& target, WindowId parent) override;
};

}  // namespace umbrane::win32
