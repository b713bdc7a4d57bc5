// The registry port: string values of the current user and of the
// machine, read only.
#pragma once

#include "platform/Registry.h"

namespace umbrane::win32 {

class Win32Registry final : public IRegistry {
 public:
  std::optional<std::string> ReadUserString(const std::string& key,
                                            const std::string& name) override;
  std::optional<std::string> ReadMachineString(const std::string& key,
                                               const std::string& name) override;
};

}  // namespace umbrane::win32
