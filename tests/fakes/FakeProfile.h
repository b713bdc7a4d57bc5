// Reads INI files from the fake file system the way the profile functions
// do: sections and keys without regard to case, spaces around names and
// values trimmed, the first matching key wins.
#pragma once

#include "FakeFileSystem.h"
#include "platform/Profile.h"

namespace umbrane::fakes {

class FakeProfile : public IProfile {
 public:
  explicit FakeProfile(FakeFileSystem& files) : files_(files) {}

  std::string ReadString(const std::string& file, const std::string& section,
                         const std::string& key, const std::string& fallback) override;
  bool WriteString(const std::string& file, const std::string& section, const std::string& key,
                   const std::string& value) override;

 private:
  FakeFileSystem& files_;
};

}  // namespace umbrane::fakes
