// Port: facts about the running system: its version, its folders and where
// the program itself lies.
#pragma once

#include <cstdint>
#include <string>

namespace umbrane {

// The platform identifiers of the system's version information.
constexpr unsigned kPlatformWin32s = 0;
constexpr unsigned kPlatformWindows9x = 1;
constexpr unsigned kPlatformWindowsNT = 2;

struct OsVersion {
  unsigned platformId = 0;
  unsigned major = 0;
  unsigned minor = 0;
  unsigned build = 0;
};

class ISystem {
 public:
  virtual ~ISystem() = default;

  // The true version, also where the system would report an older one to a
  // program that does not declare it knows the newer systems.
  virtual OsVersion Version() = 0;
  virtual std::string WindowsDirectory() = 0;
  // A shell folder by its CSIDL number; empty when the shell has none.
  virtual std::string SpecialFolder(int csidl) = 0;
  // The temporary folder exactly as the system names it.
  virtual std::string TempPath() = 0;
  // The full path of the running executable.
  virtual std::string ExecutablePath() = 0;
  // The language identifier of the user's interface language.
  virtual unsigned UiLanguage() = 0;
  // The system's default language identifier.
  virtual unsigned SystemLanguage() = 0;
  // A number that identifies this machine to the update service.
  virtual std::int32_t MachineId() = 0;
};

}  // namespace umbrane
