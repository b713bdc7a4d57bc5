#include <gtest/gtest.h>

#include <map>

#include "FakeFileSystem.h"
#include "FakePorts.h"
#include "proxy/BrowserPolicies.h"
#include "proxy/Probes.h"

namespace umbrane {
namespace {

using fakes::FakeFileSystem;
using fakes::FakeProcessList;
using fakes::FakeRegistry;
using fakes::FakeSystem;
using fakes::FakeTopLevelWindows;

struct OsRow {
  unsigned platform, major, minor, build;
  const char* name;
};

TEST(Probes, OsNameTable) {
  const OsRow rows[] = {
      {1, 4, 0, 950, "Win95"},    {1, 4, 10, 2222, "Win98"},  {1, 4, 90, 3000, "Win98"},
      {1, 5, 0, 0, "Win98"},      {1, 3, 95, 0, "Win95"},     {2, 3, 51, 1057, "WinNT"},
      {2, 4, 0, 1381, "WinNT"},   {2, 5, 0, 2195, "Win2000"}, {2, 5, 1, 2600, "WinXP"},
      {2, 5, 2, 3790, "WinXP"},   {2, 6, 0, 6002, "Vista"},   {2, 6, 1, 7601, "Win7"},
      {2, 6, 2, 9200, "Win8"},    {2, 6, 3, 9600, "Win81"},   {2, 10, 0, 19045, "Win10"},
      {2, 10, 0, 21999, "Win10"}, {2, 10, 0, 22000, "Win11"}, {2, 10, 0, 26100, "Win11"},
      {2, 6, 4, 9841, "WinNT"},   {2, 11, 0, 30000, "WinNT"}, {0, 3, 10, 0, "WinNT"},
      {0, 6, 1, 0, "Unknown"},    {3, 7, 0, 0, "Unknown"},
  };
  for (const OsRow& r : rows) {
    EXPECT_EQ(GetOSName(OsVersion{r.platform, r.major, r.minor, r.build}), r.name)
        << "platform " << r.platform << " version " << r.major << "." << r.minor << "." << r.build;
  }
}

TEST(Probes, AppDataFolderOfEachFamily) {
  FakeSystem system;
  system.specialFolders[kCsidlAppData] = "C:\\Users\\ann\\AppData\\Roaming";
  for (const OsVersion v : {OsVersion{2, 5, 1, 2600}, OsVersion{2, 6, 1, 7601},
                            OsVersion{2, 10, 0, 22631}, OsVersion{2, 12, 0, 1}}) {
    system.version = v;
    EXPECT_EQ(GetAppDataFolder(system), "C:\\Users\\ann\\AppData\\Roaming\\")
        << v.major << "." << v.minor;
  }

  system.version = {1, 4, 10, 2222};
  system.windowsDirectory = "C:\\WINDOWS";
  EXPECT_EQ(GetAppDataFolder(system), "C:\\WINDOWS\\Application Data\\");
  system.windowsDirectory = "C:\\";
  EXPECT_EQ(GetAppDataFolder(system), "C:\\Application Data\\");

  system.version = {3, 7, 0, 0};
  EXPECT_EQ(GetAppDataFolder(system), "");
}

TEST(Probes, TempFolderGainsABackslashOnlyWhenMissing) {
  FakeSystem system;
  system.tempPath = "C:\\users\\ann\\Temp\\";
  EXPECT_EQ(GetTempFolder(system), "C:\\users\\ann\\Temp\\");
  system.tempPath = "D:\\TMP";
  EXPECT_EQ(GetTempFolder(system), "D:\\TMP\\");
}

TEST(Probes, EnsureFolderCreatesOneLevelOnly) {
  FakeFileSystem files;
  files.AddFolder("C:\\Users\\ann\\AppData\\Roaming");
  EXPECT_TRUE(EnsureFolder(files, "C:\\Users\\ann\\AppData\\Roaming")) << "existing folder";
  EXPECT_TRUE(EnsureFolder(files, "C:\\Users\\ann\\AppData\\Roaming\\Umbrane"));
  EXPECT_TRUE(files.FolderExists("C:\\Users\\ann\\AppData\\Roaming\\Umbrane"));
  EXPECT_FALSE(EnsureFolder(files, "C:\\Missing\\Parent\\Umbrane"));
  EXPECT_FALSE(files.FolderExists("C:\\Missing\\Parent"));
  files.AddFile("C:\\Users\\ann\\file", "x");
  EXPECT_FALSE(EnsureFolder(files, "C:\\Users\\ann\\file")) << "a file is no folder";
}

TEST(Probes, RunningBrowserIsTheLastMatchInSnapshotOrder) {
  FakeProcessList processes;
  EXPECT_EQ(GetRunningBrowser(processes), "");
  processes.names = {"System", "explorer.exe", "notepad.exe"};
  EXPECT_EQ(GetRunningBrowser(processes), "");
  processes.names = {"firefox.exe", "opera.exe"};
  EXPECT_EQ(GetRunningBrowser(processes), "Opera");
  processes.names = {"opera.exe", "FireFox.EXE"};
  EXPECT_EQ(GetRunningBrowser(processes), "Firefox");
  processes.names = {"operasetup.exe"};
  EXPECT_EQ(GetRunningBrowser(processes), "Opera");
  processes.names = {"NETSCP6.EXE", "svchost.exe"};
  EXPECT_EQ(GetRunningBrowser(processes), "Netscape");
  processes.names = {"firefox-opera-netscp.exe"};
  EXPECT_EQ(GetRunningBrowser(processes), "Netscape") << "within one name the later test wins";
}

TEST(Probes, FindWindowByTitleIgnoresCaseAndEmptySearch) {
  FakeTopLevelWindows windows;
  windows.titles = {"Program Manager", "Start - Mozilla Firefox", "mozilla firefox"};
  EXPECT_EQ(FindWindowByTitle(windows, "Mozilla Firefox"), 2u);
  EXPECT_EQ(FindWindowByTitle(windows, "PROGRAM"), 1u);
  EXPECT_EQ(FindWindowByTitle(windows, "Opera"), 0u);
  windows.asked.clear();
  EXPECT_EQ(FindWindowByTitle(windows, ""), 0u);
  EXPECT_TRUE(windows.asked.empty());
}

TEST(Probes, FindWindowByTitleLooksAtMostAt1001Windows) {
  FakeTopLevelWindows windows;
  windows.titles.assign(1200, "untitled");
  windows.titles[1000] = "Mozilla Firefox";  // window 1001
  EXPECT_EQ(FindWindowByTitle(windows, "firefox"), 1001u);
  windows.titles[1000] = "untitled";
  windows.titles[1001] = "Mozilla Firefox";  // window 1002
  windows.asked.clear();
  EXPECT_EQ(FindWindowByTitle(windows, "firefox"), 0u);
  EXPECT_EQ(windows.asked.size(), 1001u);
  FakeTopLevelWindows none;
  EXPECT_EQ(FindWindowByTitle(none, "x"), 0u);
}

// Only Firefox's own window gets Firefox's keys: the title, the class and
// the program must all be Firefox's; the first such window wins.
TEST(Probes, FirefoxWindowIsTheFirstWithFirefoxsTitleClassAndProgram) {
  const struct {
    const char* title;
    const char* className;
    const char* program;
    bool firefox;
  } rows[] = {
      {"Start Page - Mozilla Firefox", "MozillaWindowClass", "firefox.exe", true},
      {"mozilla firefox", "MozillaWindowClass", "FIREFOX.EXE", true},
      {"Start Page - Mozilla Firefox", "Notepad", "firefox.exe", false},
      {"Start Page - Mozilla Firefox", "MozillaWindowClass", "notepad.exe", false},
      {"Start Page - Mozilla Firefox", "MozillaWindowClass", "", false},  // owner not named
      {"Start Page - Mozilla Firefox", "MozillaWindowClass", "firefox.exe.evil.exe", false},
      {"Downloads", "MozillaWindowClass", "firefox.exe", false},
  };
  for (const auto& row : rows) {
    FakeTopLevelWindows windows;
    windows.titles = {"Program Manager", row.title};
    windows.classes = {"Progman", row.className};
    windows.programs = {"explorer.exe", row.program};
    EXPECT_EQ(FindFirefoxWindow(windows), row.firefox ? 2u : 0u)
        << row.title << " / " << row.className << " / " << row.program;
  }
  // A lookalike in front of the real one: the real one.
  FakeTopLevelWindows windows;
  windows.titles = {"Mozilla Firefox", "Mozilla Firefox"};
  windows.programs = {"firefox.exe", "firefox.exe"};
  windows.classes = {"Lookalike", "MozillaWindowClass"};
  EXPECT_EQ(FindFirefoxWindow(windows), 2u);
}

// Which browsers an administrator's policy keeps off the system's proxy.
TEST(Probes, BrowsersWhoseProxyAPolicySets) {
  const std::string chrome = "Software\\Policies\\Google\\Chrome|";
  const std::string edge = "Software\\Policies\\Microsoft\\Edge|";
  const std::string says = " does not use Umbrane: its proxy is set by policy (";
  const struct {
    const char* name;
    std::map<std::string, std::string> machine, user;
    std::vector<std::string> lines;
  } cases[] = {
      {"no policy", {}, {}, {}},
      {"the machine's mode",
       {{chrome + "ProxyMode", "fixed_servers"}},
       {},
       {"Chrome" + says + "ProxyMode fixed_servers)"}},
      {"the user's PAC address",
       {},
       {{edge + "ProxyPacUrl", "http://pac/"}},
       {"Edge" + says + "ProxyPacUrl)"}},
      {"the machine's comes first",
       {{chrome + "ProxyMode", "direct"}},
       {{chrome + "ProxyMode", "system"}},
       {"Chrome" + says + "ProxyMode direct)"}},
      {"follow the system", {{chrome + "ProxyMode", "system"}}, {}, {}},
      {"the dictionary counts over the mode",
       {{chrome + "ProxySettings", R"({"ProxyMode": "system"})"}, {chrome + "ProxyMode", "direct"}},
       {},
       {}},
      {"the dictionary's own mode",
       {{edge + "ProxySettings", R"({"ProxyMode": "pac_script", "ProxyPacUrl": "x"})"}},
       {},
       {"Edge" + says + "ProxySettings pac_script)"}},
      {"a server alone, and both browsers",
       {{chrome + "ProxyServer", "10.0.0.1:8080"}},
       {{edge + "ProxyMode", "fixed_servers"}},
       {"Chrome" + says + "ProxyServer)", "Edge" + says + "ProxyMode fixed_servers)"}},
      {"an empty value sets nothing", {{chrome + "ProxyMode", ""}}, {}, {}},
  };
  for (const auto& c : cases) {
    FakeRegistry registry;
    registry.machineValues = c.machine;
    registry.values = c.user;
    EXPECT_EQ(BrowsersProxiedByPolicy(registry), c.lines) << c.name;
  }
}

// Which installed browsers' WebRTC may still go around the proxy: Chrome or
// Edge without the policy that keeps its UDP to the proxy.
TEST(Probes, BrowsersWhoseWebRtcCanRevealTheAddress) {
  const std::string apps = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\";
  const std::string chromePolicy = "Software\\Policies\\Google\\Chrome|WebRtcIPHandling";
  const std::string edgePolicy = "Software\\Policies\\Microsoft\\Edge|WebRtcIPHandling";
  const std::string chrome =
      "Chrome: WebRTC can show web sites your own address. An "
      "administrator can stop it: policy WebRtcIPHandling = "
      "disable_non_proxied_udp";
  const std::string edge = "Edge" + chrome.substr(6);
  const struct {
    const char* name;
    std::map<std::string, std::string> machine, user;
    std::vector<std::string> lines;
  } cases[] = {
      {"none installed", {{chromePolicy, "default"}}, {}, {}},
      {"Chrome for this user, no policy", {}, {{apps + "chrome.exe|", "C:\\c.exe"}}, {chrome}},
      {"the machine's policy stops it",
       {{apps + "chrome.exe|", "C:\\c.exe"}, {chromePolicy, "disable_non_proxied_udp"}},
       {{chromePolicy, "default"}},
       {}},
      {"another handling does not",
       {{apps + "msedge.exe|", "C:\\e.exe"}},
       {{edgePolicy, "default_public_interface_only"}},
       {edge}},
      {"both, one stopped",
       {{apps + "chrome.exe|", "C:\\c.exe"}, {apps + "msedge.exe|", "C:\\e.exe"}},
       {{edgePolicy, "disable_non_proxied_udp"}},
       {chrome}},
  };
  for (const auto& c : cases) {
    FakeRegistry registry;
    registry.machineValues = c.machine;
    registry.values = c.user;
    EXPECT_EQ(BrowsersRevealingByWebRtc(registry), c.lines) << c.name;
  }
}

}  // namespace
}  // namespace umbrane
