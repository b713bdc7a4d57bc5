#include "win32/Win32Profile.h"

#include <windows.h>

namespace umbrane::win32 {

std::string Win32Profile::ReadString(const std::string& file, const std::string& section,
                                     const std::string& key, const std::string& fallback) {
  // Values are cut at 2047 characters, as everywhere the program reads INI.
  char buffer[2048];
  const DWORD length = GetPrivateProfileStringA(section.c_str(), key.c_str(), fallback.c_str(),
                                                buffer, sizeof buffer, file.c_str());
  return std::string(buffer, length);
}

bool Win32Profile::WriteString(const std::string& file, const std::string& section,
                               const std::string& key, const std::string& value) {
  return WritePrivateProfileStringA(section.c_str(), key.c_str(), value.c_str(), file.c_str()) !=
         FALSE;
}

}  // namespace umbrane::win32
