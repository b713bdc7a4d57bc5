// What the browser steps reach the system through, and what they need to
// know about the program.
#pragma once

#include <string>

#include "platform/Dialogs.h"
#include "platform/FileSystem.h"
#include "platform/InternetSettings.h"
#include "platform/ProcessList.h"
#include "platform/Profile.h"
#include "platform/Registry.h"
#include "platform/System.h"
#include "platform/TopLevelWindows.h"

namespace umbrane {

struct BrowserPorts {
  IInternetSettings& internet;
  IFileSystem& files;
  IProfile& profile;
  ISystem& system;
  IProcessList& processes;
  ITopLevelWindows& windows;
  IRegistry& registry;
  IDialogs& dialogs;
};

// The program's folder, skin (for the restart notice) and data folder (for
// the saved state and Opera's PAC file), as settled at start-up.
struct BrowserContext {
  const std::string& appPath;
  const std::string& skinFile;
  const std::string& dataPath;
};

// "host:port" cut at its first ":"; without one the host is empty and the
// port is the whole text.
struct HostPort {
  std::string host;
  std::string port;
};
HostPort SplitProxy(const std::string& proxy);

// The restart notice for `browser`, in the user's language.
void NotifyRestart(BrowserPorts& ports, const BrowserContext& context, const std::string& browser);

}  // namespace umbrane
