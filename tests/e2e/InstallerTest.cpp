// The installer and its uninstaller, run silently under Wine the way an
// administrator's script would: the files land in the user's own programs
// folder, Umbrane runs from there, and the uninstaller closes it (so it gives
// the browsers back) and leaves nothing of the installation.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "ProgramDriver.h"
#include "WaitFor.h"

namespace umbrane::e2e {
namespace {

using testing::HostPath;
using testing::WaitFor;

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kUninstallKey =
    "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Umbrane";

std::string Folder(int csidl) {
  char path[MAX_PATH] = {};
  (void)SHGetFolderPathA(nullptr, csidl, nullptr, 0, path);
  return std::string(path) + "\\";
}

bool Exists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// The text of a value under HKEY_CURRENT_USER, or "<none>".
std::string UserValue(const char* key, const char* name) {
  char data[1024] = {};
  DWORD size = sizeof data;
  if (RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, data, &size) !=
      ERROR_SUCCESS) {
    return "<none>";
  }
  return data;
}

bool RunToEnd(const std::string& exe, const std::string& arguments) {
  Running run = Start(exe, arguments);
  return run.process.Valid() && WaitForSingleObject(run.process.Get(), 60000) == WAIT_OBJECT_0;
}

class Installer : public ::testing::Test {
 protected:
  const std::string installed = Folder(CSIDL_LOCAL_APPDATA) + "Programs\\Umbrane\\";
  const std::string shortcut = Folder(CSIDL_PROGRAMS) + "Umbrane.lnk";
  const std::string data = Folder(CSIDL_APPDATA) + "Umbrane\\";

  void Install(const std::string& arguments) {
    ASSERT_TRUE(RunToEnd(HostPath(UMBRANE_INSTALLER), arguments));
    ASSERT_TRUE(Exists(installed + "umbrane.exe"));
  }
  // The uninstaller copies itself away and returns at once: wait for its work.
  void Uninstall(const std::string& arguments) {
    ASSERT_TRUE(RunToEnd(installed + "uninstall.exe", arguments));
    EXPECT_TRUE(WaitFor([&] { return !Exists(installed); }, 20000)) << "nothing left";
  }
};

TEST_F(Installer, SilentInstallRunsFromItsFolderAndTheUninstallerClosesItAndLeavesNothing) {
  Install("/S");
  for (const char* file : {"umbrane.exe", "umbrane-guard.exe", "warden.exe", "default.skn",
                           "help.chm", "lang\\0409.lng", "uninstall.exe"}) {
    EXPECT_TRUE(Exists(installed + file)) << file;
  }
  EXPECT_TRUE(Exists(shortcut));
  EXPECT_EQ(UserValue(kRunKey, "Umbrane"), "<none>") << "no start at sign-in unless chosen";
  EXPECT_EQ(UserValue(kUninstallKey, "DisplayVersion"), "4.01 Beta");

  Running umbrane = Start(installed + "umbrane.exe");
  ASSERT_NE(WaitForMainWindow(umbrane), nullptr);
  ASSERT_TRUE(WaitForUpdateDone());
  Uninstall("/S");
  EXPECT_EQ(WaitForExit(umbrane), 0u) << "asked to close, not killed";
  EXPECT_EQ(Message(LogEntries().back()), "Closing...");
  EXPECT_FALSE(Exists(shortcut));
  EXPECT_EQ(UserValue(kUninstallKey, "DisplayName"), "<none>");
  EXPECT_TRUE(Exists(data + "log.txt")) << "the user's data stays unless asked";
}

TEST_F(Installer, TheStartAtSignInIsWrittenOnlyWhenChosenAndGoesWithTheData) {
  Install("/S /AUTOSTART");
  std::string command = "\"";
  command += installed;
  command += "umbrane.exe\"";
  EXPECT_EQ(UserValue(kRunKey, "Umbrane"), command);
  (void)CreateDirectoryA(data.c_str(), nullptr);
  Uninstall("/S /REMOVEDATA");
  EXPECT_EQ(UserValue(kRunKey, "Umbrane"), "<none>");
  EXPECT_FALSE(Exists(data)) << "asked to, the settings and log go too";
}

}  // namespace
}  // namespace umbrane::e2e
