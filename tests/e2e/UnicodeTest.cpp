// A user whose folders hold characters outside the system's code page
// (Cyrillic and Chinese on a Western system): the application-data folder is
// redirected there, and the program runs from such a folder too. This test
// program itself works in the Western code page, so it reaches those paths
// through the UTF-16 calls; the paths in its code are UTF-8.
#include <gtest/gtest.h>
#include <windows.h>
#include <shlobj.h>

#include <string>

#include "ProgramDriver.h"
#include "WaitFor.h"
#include "app/Commands.h"

namespace umbrane::e2e {
namespace {

using testing::HostPath;
using testing::WaitFor;

std::wstring W(const std::string& utf8) {
  std::wstring out(static_cast<std::size_t>(utf8.size()) + 1, L'\0');
  const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()),
                                    out.data(), static_cast<int>(out.size()));
  out.resize(static_cast<std::size_t>(n > 0 ? n : 0));
  return out;
}

std::string Utf8(const wchar_t* text) {
  char out[4 * MAX_PATH] = {};
  (void)WideCharToMultiByte(CP_UTF8, 0, text, -1, out, sizeof out, nullptr, nullptr);
  return out;
}

std::string Folder(int csidl) {
  wchar_t path[MAX_PATH] = {};
  (void)SHGetFolderPathW(nullptr, csidl, nullptr, 0, path);
  return Utf8(path) + "\\";
}

bool Exists(const std::string& path) {
  return GetFileAttributesW(W(path).c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string Read(const std::string& path) {
  HANDLE file = CreateFileW(W(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return "<missing>";
  }
  std::string text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0) {
    text.append(buffer, got);
  }
  CloseHandle(file);
  return text;
}

void Write(const std::string& path, const std::string& text) {
  HANDLE file = CreateFileW(W(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(file, INVALID_HANDLE_VALUE) << path;
  DWORD written = 0;
  EXPECT_TRUE(WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
  CloseHandle(file);
}

bool Logged(const std::string& log, const std::string& message) {
  return Read(log).find("] " + message + "\r\n") != std::string::npos;
}

constexpr const wchar_t* kShellFolders =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// Points the user's application-data folder at `folder` for the programs
// started from now on, and back at the end.
class RedirectedAppData {
 public:
  explicit RedirectedAppData(const std::string& folder) {
    wchar_t old[MAX_PATH] = {};
    DWORD size = sizeof old;
    had_ = RegGetValueW(HKEY_CURRENT_USER, kShellFolders, L"AppData",
                        RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, old, &size) == ERROR_SUCCESS;
    old_ = old;
    Set(W(folder));
  }
  ~RedirectedAppData() {
    if (had_) {
      Set(old_);
    } else {
      (void)RegDeleteKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"AppData");
    }
  }
  RedirectedAppData(const RedirectedAppData&) = delete;
  RedirectedAppData& operator=(const RedirectedAppData&) = delete;

 private:
  static void Set(const std::wstring& value) {
    (void)RegSetKeyValueW(HKEY_CURRENT_USER, kShellFolders, L"AppData", REG_EXPAND_SZ,
                          value.c_str(), static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  }
  std::wstring old_;
  bool had_ = false;
};

void MakeFolders(const std::string& path) {
  (void)SHCreateDirectoryExW(nullptr, W(path).c_str(), nullptr);
}

class UnicodePaths : public ::testing::Test {
 protected:
  void TearDown() override {
    if (umbrane.process.Valid() && WaitForSingleObject(umbrane.process.Get(), 0) == WAIT_TIMEOUT) {
      (void)TerminateProcess(umbrane.process.Get(), 1);
      (void)WaitForSingleObject(umbrane.process.Get(), 5000);
    }
  }
  Running umbrane;
};

TEST_F(UnicodePaths, AProfileOutsideTheCodePageKeepsItsLogSettingsAndBrowserFiles) {
  const std::string name =
      "\xD0\x98\xD0\xB2\xD0\xB0\xD0\xBD \xE7\x94\xA8\xE6\x88\xB7";  // Иван 用户
  const std::string home = Folder(CSIDL_PROFILE) + name + "\\";
  const std::string appData = home + "AppData\\Roaming\\";
  const std::string program = home + "Programs\\Umbrane\\";
  const std::string data = appData + "Umbrane\\";
  const std::string userJs = appData + "Mozilla\\Profiles\\default\\k3y.slt\\user.js";
  const std::string operaIni = appData + "Opera\\Opera\\profile\\opera6.ini";
  MakeFolders(program);
  MakeFolders(data);
  MakeFolders(appData + "Mozilla\\Profiles\\default\\k3y.slt");
  MakeFolders(appData + "Opera\\Opera\\profile");
  RedirectedAppData redirected(appData.substr(0, appData.size() - 1));

  // The program, its agent, and a skin that only the settings name.
  const std::string bin = kUmbraneExe.substr(0, kUmbraneExe.find_last_of('\\') + 1);
  ASSERT_TRUE(CopyFileW(W(bin + "umbrane.exe").c_str(), W(program + "umbrane.exe").c_str(), FALSE));
  ASSERT_TRUE(CopyFileW(W(HostPath(UMBRANE_STAND_IN_AGENT)).c_str(),
                        W(program + "warden.exe").c_str(), FALSE));
  Write(program + "warden.script",
        "print 160036 preparing\r\nprint 160239 accepted\r\nlisten\r\nprint 160138 "
        "ready\r\nwait\r\n");
  const std::string skin = data + name + ".skn";
  ASSERT_TRUE(CopyFileW(W(bin + "default.skn").c_str(), W(skin).c_str(), FALSE));
  Write(data + "umbrane.ini", "[Config]\r\nSkin=" + skin + "\r\n");
  (void)DeleteFileW(W(data + "log.txt").c_str());
  Write(userJs, "user_pref(\"browser.startup.page\", 0);\r\n");
  Write(operaIni, "[Proxy]\r\nUse Automatic Proxy Configuration=1\r\n");

  STARTUPINFOW startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  std::wstring command = L"\"" + W(program + "umbrane.exe") + L"\"";
  ASSERT_TRUE(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info));
  umbrane.process.Reset(info.hProcess);
  umbrane.id = info.dwProcessId;
  (void)CloseHandle(info.hThread);
  HWND main = WaitForMainWindow(umbrane);
  ASSERT_NE(main, nullptr);
  const std::string log = data + "log.txt";
  ASSERT_TRUE(WaitFor([&] { return Logged(log, "SilentUpdate Failed!"); }))
      << "the log in the data folder: " << Read(log) << BoxTexts(umbrane.id);
  EXPECT_TRUE(WindowsOf(umbrane.id, "#32770").empty()) << "the skin the settings name was found";

  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdUmbrane1, 0));
  ASSERT_TRUE(WaitFor([&] { return Logged(log, "Umbrane ON"); }, 15000))
      << Read(log) << BoxTexts(umbrane.id);
  EXPECT_TRUE(Exists(data + "proxy.state"));
  EXPECT_NE(Read(userJs).find("user_pref(\"network.proxy.http_port\",7070);"), std::string::npos);
  EXPECT_NE(Read(operaIni).find("Automatic Proxy Configuration URL=" + data + "umbrane.pac"),
            std::string::npos)
      << Read(operaIni);
  EXPECT_NE(Read(data + "umbrane.pac").find("PROXY 127.0.0.1:7070"), std::string::npos);

  ASSERT_TRUE(PostMessageA(main, WM_COMMAND, kCmdStopUmbrane1, 0));
  ASSERT_TRUE(WaitFor([&] { return Logged(log, "User stopped Umbrane"); }));
  EXPECT_NE(Read(userJs).find("user_pref(\"network.proxy.type\", 0);"), std::string::npos);
  EXPECT_EQ(Read(data + "umbrane.pac"), "");
  EXPECT_FALSE(Exists(data + "proxy.state"));
  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  EXPECT_EQ(WaitForExit(umbrane), 0u);
  EXPECT_TRUE(Logged(log, "Closing..."));

  for (const std::string& file :
       {program + "umbrane.exe", program + "warden.exe", program + "warden.script",
        data + "umbrane.pac", skin, data + "umbrane.ini", data + "log.txt", userJs, operaIni}) {
    (void)DeleteFileW(W(file).c_str());
  }
}

}  // namespace
}  // namespace umbrane::e2e
