// The Win32 adapters against the real API as Wine implements it.
#include <gtest/gtest.h>
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>

#include "WaitFor.h"
#include "app/ActivityLog.h"
#include "proxy/Probes.h"
#include "proxy/RestartNotice.h"
#include "win32/Handle.h"
#include "win32/SingleInstance.h"
#include "win32/Win32Clock.h"
#include "win32/Win32FileSystem.h"
#include "win32/Win32ProcessList.h"
#include "win32/Win32Profile.h"
#include "win32/Win32System.h"
#include "win32/Win32TopLevelWindows.h"
#include "win32/UserObjects.h"

namespace umbrane::win32 {
namespace {

// A fresh folder under the temporary folder, removed with its files after
// the test.
class ScratchFolder {
 public:
  ScratchFolder() {
    Win32System system;
    path_ = GetTempFolder(system) + "umbrane-test-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount64());
    EXPECT_TRUE(CreateDirectoryA(path_.c_str(), nullptr));
    path_ += "\\";
  }
  ~ScratchFolder() {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((path_ + "*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        (void)DeleteFileA((path_ + data.cFileName).c_str());
        (void)RemoveDirectoryA((path_ + data.cFileName).c_str());
      } while (FindNextFileA(find, &data));
      (void)FindClose(find);
    }
    (void)RemoveDirectoryA(path_.c_str());
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

TEST(Win32System, RealFoldersAndVersion) {
  Win32System system;
  const OsVersion version = system.Version();
  EXPECT_EQ(version.platformId, kPlatformWindowsNT);
  EXPECT_NE(GetOSName(version), "Unknown") << version.major << "." << version.minor;

  const std::string appData = GetAppDataFolder(system);
  ASSERT_FALSE(appData.empty());
  EXPECT_EQ(appData.back(), '\\');
  EXPECT_NE(LowerCase(appData).find("\\appdata\\roaming\\"), std::string::npos) << appData;
  EXPECT_TRUE(Win32FileSystem().FolderExists(appData));

  const std::string temp = GetTempFolder(system);
  EXPECT_EQ(temp.back(), '\\');
  EXPECT_TRUE(Win32FileSystem().FolderExists(temp)) << temp;

  EXPECT_EQ(LowerCase(GetWindowsFolder(system)), "c:\\windows");
  const std::string exe = LowerCase(system.ExecutablePath());
  EXPECT_EQ(exe.substr(exe.size() - 4), ".exe") << exe;
  EXPECT_TRUE(Win32FileSystem().FileExists(system.ExecutablePath()));
}

TEST(Win32System, UserInterfaceLanguageNamesItsLanguageFile) {
  Win32System system;
  const unsigned language = system.UiLanguage();
  EXPECT_NE(language & 0x3FF, 0u) << "a primary language";
  const LanguageFiles files = CurrentLanguageFiles(system);
  EXPECT_EQ(files.fallback, ExtractFilePath(system.ExecutablePath()) + "lang\\0409.lng");
  EXPECT_EQ(files.current.size(), files.fallback.size());
}

TEST(Win32FileSystem, EnsureFolderCreatesOneLevelOnly) {
  ScratchFolder scratch;
  Win32FileSystem files;
  EXPECT_FALSE(EnsureFolder(files, scratch.Path() + "missing\\Umbrane"));
  EXPECT_FALSE(files.FolderExists(scratch.Path() + "missing"));
  EXPECT_TRUE(EnsureFolder(files, scratch.Path() + "Umbrane"));
  EXPECT_TRUE(EnsureFolder(files, scratch.Path() + "Umbrane")) << "an existing folder";
  EXPECT_TRUE(files.FolderExists(scratch.Path() + "Umbrane"));
  EXPECT_FALSE(files.FileExists(scratch.Path() + "Umbrane"));
}

// Who else may change a folder the program could run from: nobody for one
// of this user's, the system's and the administrators'; the account that
// may add files or folders (as everyone signed in may under C:\), replace
// or remove them, or change who may (or own it); nobody for rights only
// what is made later inherits, or for reading alone. Wine keeps no lists of
// its own on files (it shows the Unix permissions), so the table is judged
// on descriptors as the system hands them out, and a real folder opened to
// everyone once.
TEST(Win32FileSystem, WhoElseMayChangeAFolderIsNamed) {
  // A descriptor from its text, owner and list as GetNamedSecurityInfo
  // hands them out.
  struct Described {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    PSID owner = nullptr;
    PACL list = nullptr;
    explicit Described(const std::string& text) {
      BOOL present = FALSE;
      BOOL defaulted = FALSE;
      EXPECT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
          text.c_str(), SDDL_REVISION_1, &descriptor, nullptr));
      (void)GetSecurityDescriptorDacl(descriptor, &present, &list, &defaulted);
      (void)GetSecurityDescriptorOwner(descriptor, &owner, &defaulted);
    }
    ~Described() { (void)LocalFree(descriptor); }
  };
  const std::string me =
      "D:P(A;OICI;FA;;;" + CurrentUserSid() + ")(A;OICI;FA;;;SY)(A;OICI;FA;;;BA)";
  const struct {
    const char* others;
    const char* who;
  } rows[] = {
      {"O:SY", ""},
      {"O:SY(A;OICI;0x1200a9;;;BU)", ""},
      {"O:SY(A;OICIIO;FA;;;AU)", ""},
      {"O:SY(A;CI;0x4;;;AU)", "Authenticated Users"},
      {"O:SY(A;OICI;0x2;;;BU)", "Users"},
      {"O:SY(A;;0x40000;;;WD)", "Everyone"},
      {"O:BU", "Users"},
  };
  for (const auto& row : rows) {
    const std::string text = row.others;
    const Described d(text.substr(0, 4) + me + text.substr(4));
    EXPECT_EQ(OthersWhoMayChange(d.owner, d.list), row.who) << row.others;
  }
  ScratchFolder scratch;
  Win32FileSystem files;
  EXPECT_EQ(files.OthersWhoMayChange(scratch.Path()), "");
  const Described open(me + "(A;OICI;FA;;;WD)");
  std::string path = scratch.Path();
  ASSERT_EQ(SetNamedSecurityInfoA(path.data(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                                  nullptr, open.list, nullptr),
            static_cast<DWORD>(ERROR_SUCCESS));
  EXPECT_EQ(files.OthersWhoMayChange(scratch.Path()), "Everyone");
}

TEST(Win32FileSystem, LogFileBytesAreCrLfWithoutByteOrderMark) {
  ScratchFolder scratch;
  Win32FileSystem files;
  const std::string path = scratch.Path() + "log.txt";
  std::string error;
  ASSERT_TRUE(files.WriteFile(path, "from an earlier run\r\n", WriteMode::Replace, error));

  LogFile log(files, path);
  LineList lines;
  lines.Add(FormatLogEntry("09:05:03:042 2008/03/10", "SilentUpdate"));
  log.Sync(lines);
  lines.Add(FormatLogEntry("09:05:04:000 2008/03/10", "Caf\xE9 \xA9"));
  log.Sync(lines);
  EXPECT_EQ(files.ReadFile(path),
            "[ 09:05:03:042 2008/03/10 ] SilentUpdate\r\n"
            "[ 09:05:04:000 2008/03/10 ] Caf\xE9 \xA9\r\n");
}

TEST(Win32FileSystem, WriteToALockedFileFailsWithTheSystemsReason) {
  ScratchFolder scratch;
  Win32FileSystem files;
  const std::string path = scratch.Path() + "log.txt";
  UniqueHandle locked(CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(locked.Valid());
  std::string error;
  EXPECT_FALSE(files.WriteFile(path, "x\r\n", WriteMode::Append, error));
  EXPECT_FALSE(error.empty());
  EXPECT_NE(error.back(), '\n');
  locked.Reset();
  EXPECT_TRUE(files.WriteFile(path, "x\r\n", WriteMode::Append, error));
  EXPECT_FALSE(
      files.WriteFile(scratch.Path() + "no\\such\\log.txt", "x", WriteMode::Replace, error));
}

// The log's cap: log.txt moves over log.1.txt, but not while a reader (the
// text editor "Report..." opened) holds it.
TEST(Win32FileSystem, RenameReplacesButNotWhileAReaderHoldsTheFile) {
  ScratchFolder scratch;
  Win32FileSystem files;
  const std::string from = scratch.Path() + "log.txt";
  const std::string to = scratch.Path() + "log.1.txt";
  std::string error;
  ASSERT_TRUE(files.WriteFile(from, "new", WriteMode::Replace, error));
  ASSERT_TRUE(files.WriteFile(to, "old", WriteMode::Replace, error));
  {
    UniqueHandle reader(CreateFileA(from.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    EXPECT_FALSE(files.RenameFile(from, to));
  }
  EXPECT_TRUE(files.RenameFile(from, to));
  EXPECT_EQ(files.ReadFile(to), "new");
  EXPECT_FALSE(files.FileExists(from));
}

TEST(Win32FileSystem, ASafeReplaceThatFailsLeavesTheOldFileWhole) {
  ScratchFolder scratch;
  Win32FileSystem files;
  const std::string path = scratch.Path() + "user.js";
  std::string error;
  ASSERT_TRUE(files.ReplaceFileSafely(path, "old\r\n", error)) << "a new file too";
  {
    // Held open without sharing by another program: the move cannot replace it.
    UniqueHandle held(CreateFileA(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held.Valid());
    EXPECT_FALSE(files.ReplaceFileSafely(path, "new\r\n", error));
    EXPECT_FALSE(error.empty());
    EXPECT_FALSE(files.FileExists(path + ".umbrane-new")) << "no temporary file is left";
  }
  EXPECT_EQ(files.ReadFile(path), "old\r\n");
  EXPECT_TRUE(files.ReplaceFileSafely(path, "new\r\n", error));
  EXPECT_EQ(files.ReadFile(path), "new\r\n");
  EXPECT_FALSE(files.FileExists(path + ".umbrane-new"));
}

TEST(Win32Profile, ReadsLikeTheSystemDoes) {
  ScratchFolder scratch;
  Win32FileSystem files;
  const std::string ini = scratch.Path() + "umbrane.ini";
  std::string error;
  ASSERT_TRUE(files.WriteFile(
      ini,
      "[Other]\r\nSkin=wrong\r\n[config]\r\nSKIN = D:\\Skins\\night.skn\r\nEmpty=\r\nLong=" +
          std::string(3000, 'x') + "\r\n",
      WriteMode::Replace, error));
  Win32Profile profile;
  EXPECT_EQ(profile.ReadString(ini, "Config", "Skin", "default"), "D:\\Skins\\night.skn");
  EXPECT_EQ(profile.ReadString(ini, "Config", "Empty", "default"), "");
  EXPECT_EQ(profile.ReadString(ini, "Config", "Missing", "default"), "default");
  EXPECT_EQ(profile.ReadString(ini, "Config", "Long", ""), std::string(2047, 'x'));
  EXPECT_EQ(profile.ReadString(scratch.Path() + "none.ini", "Config", "Skin", "d"), "d");
}

TEST(Win32ProcessList, SeesThisProcess) {
  Win32ProcessList processes;
  const auto names = processes.Names();
  ASSERT_FALSE(names.empty());
  const std::string self = LowerCase(Win32System().ExecutablePath());
  const std::string selfName = self.substr(self.find_last_of('\\') + 1);
  bool found = false;
  for (const std::string& name : names) {
    found = found || LowerCase(name) == selfName;
  }
  EXPECT_TRUE(found) << selfName;
}

TEST(Win32Clock, NowIsTheLocalTime) {
  Win32Clock clock;
  SYSTEMTIME before;
  GetLocalTime(&before);
  const LocalTime now = clock.Now();
  EXPECT_EQ(now.year, before.wYear);
  EXPECT_GE(now.month, 1u);
  EXPECT_LE(now.month, 12u);
  EXPECT_LT(now.millisecond, 1000u);
  EXPECT_NE(clock.TimeSeparator(), '\0');
  EXPECT_NE(clock.DateSeparator(), '\0');
}

TEST(SingleInstance, SecondHolderOfTheNameIsToldItRuns) {
  const std::string name = "UmbraneTest" + std::to_string(GetCurrentProcessId());
  SingleInstance first(name.c_str());
  EXPECT_FALSE(first.AlreadyRunning());
  {
    SingleInstance second(name.c_str());
    EXPECT_TRUE(second.AlreadyRunning());
  }
  SingleInstance third(name.c_str());
  EXPECT_TRUE(third.AlreadyRunning()) << "the first still holds it";
}

// The name carries the user's SID; a name another account made first (here:
// one whose list lets only the system in) is never taken for this user's
// program or guard.
TEST(SingleInstance, TheNameIsTheUsersAndOneMadeByAnotherAccountIsNotTakenForIt) {
  const std::string base = "UmbraneOwned" + std::to_string(GetCurrentProcessId());
  ASSERT_FALSE(CurrentUserSid().empty());
  EXPECT_EQ(UserObjectName(base), base + "-" + CurrentUserSid());
  SingleInstance mine(base.c_str());
  EXPECT_FALSE(mine.AlreadyRunning() || mine.NameTaken());
  EXPECT_EQ(SeeUserMutex(base), MutexSeen::Ours);
  const std::string squatted = base + "-squatted";
  PSECURITY_DESCRIPTOR systemOnly = nullptr;
  ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorA(
      "D:P(A;;GA;;;SY)", SDDL_REVISION_1, &systemOnly, nullptr));
  SECURITY_ATTRIBUTES attributes = {sizeof attributes, systemOnly, FALSE};
  UniqueHandle stranger(CreateMutexA(&attributes, FALSE, UserObjectName(squatted).c_str()));
  (void)LocalFree(systemOnly);
  ASSERT_TRUE(stranger.Valid());
  EXPECT_EQ(SeeUserMutex(squatted), MutexSeen::NotOurs);
  SingleInstance taken(squatted.c_str());
  EXPECT_TRUE(taken.NameTaken());
  EXPECT_FALSE(taken.AlreadyRunning());
}

}  // namespace
}  // namespace umbrane::win32
