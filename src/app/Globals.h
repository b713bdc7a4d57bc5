// The process-wide state every part of the program reads. One instance lives
// for the whole run; the controller fills it in at start-up. Its three objects
// (Settings, AgentLines, LogLines) exist from InitSettings to FormClose.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/IniFile.h"
#include "base/LineList.h"

namespace umbrane {

// The access token the agent gets until the update service supplies one.
inline constexpr const char* kDefaultAccessToken = "umbrane-public";

struct Globals {
  std::string AppPath;   // folder of umbrane.exe, with "\"
  std::string DataPath;  // per-user data folder, with "\" once created
  std::string TempPath;  // temporary folder, with "\"
  std::unique_ptr<IniFile> Settings;
  std::string SkinFile;
  std::string AccessToken;
  std::unique_ptr<LineList> AgentLines;
  std::unique_ptr<LineList> LogLines;
  std::int32_t LineIndex = 0;
  std::string VersionText = "4.01 Beta";
  std::string AgentCommand;  // the last agent command line built
};

}  // namespace umbrane
