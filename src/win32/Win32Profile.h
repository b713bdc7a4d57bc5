// The profile port on GetPrivateProfileStringA.
#pragma once

#include "platform/Profile.h"

namespace umbrane::win32 {

class Win32Profile final : public IProfile {
 public:
  std::string ReadString(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& fallback) override;
  bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) override;
};

}  // namespace umbrane::win32
