// An INI file read through the profile port: the settings file, and later the
// update reply, Opera's settings and the language files.
#pragma once

#include <string>

#include "platform/Profile.h"

namespace umbrane {

class IniFile {
 public:
  IniFile(IProfile& profile, std::string fileName)
      : profile_(profile), fileName_(std::move(fileName)) {}

  const std::string& FileName() const { return fileName_; }

  std::string ReadString(const std::string& section, const std::string& key,
                         const std::string& fallback) const {
    return profile_.ReadString(fileName_, section, key, fallback);
  }

 private:
  IProfile& profile_;
  std::string fileName_;
};

}  // namespace umbrane
