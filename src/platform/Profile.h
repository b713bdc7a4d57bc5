// Port: INI files read through the system's profile functions, so that the
// program reads them exactly as the rest of Windows does (section and key
// names without regard to case, values cut at 2047 characters).
#pragma once

#include <string>

namespace umbrane {

class IProfile {
 public:
  virtual ~IProfile() = default;

  // The value of `key` in `section` of `file`; `fallback` when the file,
  // the section or the key is missing.
  virtual std::string ReadString(const std::string& file, const std::string& section,
                                 const std::string& key, const std::string& fallback) = 0;
  // Writes one value; the section and key are made when missing and the
  // rest of the file is left as it is.
  virtual bool WriteString(const std::string& file, const std::string& section,
                           const std::string& key, const std::string& value) = 0;
};

}  // namespace umbrane
