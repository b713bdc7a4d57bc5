// The system port: version, folders and the program's own path.
#pragma once

#include "platform/System.h"

namespace umbrane::win32 {

class Win32System final : public ISystem {
 public:
  OsVersion Version() override;
  std::string WindowsDirectory() override;
  std::string SpecialFolder(int csidl) override;
  std::string TempPath() override;
  std::string ExecutablePath() override;
  unsigned UiLanguage() override;
  unsigned SystemLanguage() override;
  std::int32_t MachineId() override;
};

}  // namespace umbrane::win32
