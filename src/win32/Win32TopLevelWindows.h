// The top-level window port: FindWindowA for the first window, GetWindow
// for the next ones in Z order, GetWindowTextA for titles, the owner's image
// name through its process.
#pragma once

#include "platform/TopLevelWindows.h"

namespace umbrane::win32 {

class Win32TopLevelWindows final : public ITopLevelWindows {
 public:
  WindowId First() override;
  WindowId Next(WindowId window) override;
  std::string Title(WindowId window) override;
  std::string ClassName(WindowId window) override;
  std::string ProgramName(WindowId window) override;
  bool BringToForeground(WindowId window) override;
  void SendKeys(const std::vector<KeyStroke>& keys) override;
};

}  // namespace umbrane::win32
