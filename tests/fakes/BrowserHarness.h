// The browser steps with every port faked, and the switch over them, as
// the program builds it; for the tests of the steps and of the saved state.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "FakeFileSystem.h"
#include "FakePorts.h"
#include "FakeProfile.h"
#include "FakeTunnel.h"
#include "proxy/BrowserSwitch.h"
#include "proxy/FirefoxProxy.h"

namespace umbrane::fakes {

inline constexpr const char* kRoaming = "C:\\Users\\ann\\AppData\\Roaming\\";
inline constexpr const char* kExtension = "C:\\Users\\ann\\ff\\umbrane@umbrane.app\\";
inline constexpr const char* kProfile =
    "C:\\Users\\ann\\AppData\\Roaming\\Mozilla\\Profiles\\default\\";
inline constexpr const char* kUserJs =
    "C:\\Users\\ann\\AppData\\Roaming\\Mozilla\\Profiles\\default\\ab12cd.slt\\user.js";
inline constexpr const char* kOperaIni =
    "C:\\Users\\ann\\AppData\\Roaming\\Opera\\Opera\\profile\\opera6.ini";
// In the user's own folder: not beside the program, where earlier versions
// put it (kOldPac).
inline constexpr const char* kPac = "C:\\Users\\ann\\AppData\\Roaming\\Umbrane\\umbrane.pac";
inline constexpr const char* kOldPac = "C:\\Program Files\\Umbrane\\umbrane.pac";

class Browsers : public ::testing::Test {
 protected:
  FakeInternetSettings internet;
  FakeFileSystem files;
  FakeProfile profile{files};
  FakeSystem system;
  FakeProcessList processes;
  FakeTopLevelWindows windows;
  FakeRegistry registry;
  FakeDialogs dialogs;
  BrowserPorts ports{internet, files, profile, system, processes, windows, registry, dialogs};
  std::string appPath = "C:\\Program Files\\Umbrane\\";
  std::string skinFile = "C:\\Program Files\\Umbrane\\default.skn";
  std::string dataPath = "C:\\Users\\ann\\AppData\\Roaming\\Umbrane\\";
  BrowserContext context{appPath, skinFile, dataPath};
  BrowserSwitch browsers{ports, context};

  void SetUp() override {
    system.version = {kPlatformWindowsNT, 10, 0, 19045};
    system.specialFolders[26] = "C:\\Users\\ann\\AppData\\Roaming";
    system.executablePath = appPath + "umbrane.exe";
    files.AddFolder(kRoaming);
    files.AddFolder(appPath);
    files.AddFolder(dataPath);
    files.AddFile(appPath + "lang\\0409.lng",
                  "[STRING]\r\nstrRestart=Please restart %s.\r\nstrOK=OK\r\n");
  }
  void RegisterExtension() {
    files.AddFolder(kExtension);
    registry.values[std::string(kFirefoxExtensionsKey) + "|" + kFirefoxExtensionId] = kExtension;
  }
  using Texts = std::vector<std::string>;
  std::string HandOff() {
    return files.Content(std::string(kExtension) + "umbrane.tmp").value_or("<none>");
  }
  Texts Notices() {
    Texts texts;
    for (const auto& n : dialogs.notices) {
      texts.push_back(n.text);
    }
    return texts;
  }
};

}  // namespace umbrane::fakes
