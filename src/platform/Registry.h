// Port: reading string values of the registry, the current user's and the
// machine's (administrators' policies). The program never writes it.
#pragma once

#include <optional>
#include <string>

namespace umbrane {

class IRegistry {
 public:
  virtual ~IRegistry() = default;

  // The string value `name` of the key `key` under HKEY_CURRENT_USER, opened
  // without creating it; nothing when the key or the value is missing.
  virtual std::optional<std::string> ReadUserString(const std::string& key,
                                                    const std::string& name) = 0;
  // The same under HKEY_LOCAL_MACHINE (its 64-bit view where there is one).
  virtual std::optional<std::string> ReadMachineString(const std::string& key,
                                                       const std::string& name) = 0;
};

}  // namespace umbrane
