// Small queries about the machine that start-up and the browser steps need.
// None keeps state; each reaches the system only through the port it takes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "base/Text.h"
#include "platform/FileSystem.h"
#include "platform/ProcessList.h"
#include "platform/System.h"
#include "platform/TopLevelWindows.h"

namespace umbrane {

// CSIDL_APPDATA: the user's roaming application-data folder.
constexpr int kCsidlAppData = 26;

// "Win95", "Win98", "WinNT", "Win2000", "WinXP", "Vista", "Win7", "Win8",
// "Win81", "Win10", "Win11", or "Unknown" for a platform of neither family.
std::string GetOSName(const OsVersion& version);
std::string GetOSName(ISystem& system);

// The per-user application-data folder with a trailing "\", or empty when
// the system is of no known family.
std::string GetAppDataFolder(ISystem& system);
std::string GetWindowsFolder(ISystem& system);
std::string GetSpecialFolder(ISystem& system, int csidl);
std::string GetTempFolder(ISystem& system);

// True when the folder exists afterwards; creates the last level only.
bool EnsureFolder(IFileSystem& files, const std::string& folder);

std::vector<std::string> GetProcessList(IProcessList& processes);
// "Firefox", "Opera", "Netscape" or empty: the last matching process in
// snapshot order wins.
std::string GetRunningBrowser(IProcessList& processes);

// The first of at most 1,001 top-level windows whose title contains `text`
// ignoring case, or 0. An empty `text` matches no window.
WindowId FindWindowByTitle(ITopLevelWindows& windows, std::string_view text);
// The first of at most 1,001 top-level windows that is Firefox's own: its
// title contains "Mozilla Firefox" ignoring case, its class is Firefox's
// and its process runs firefox.exe. A window that only calls itself so
// gets none of the keys meant for Firefox.
WindowId FindFirefoxWindow(ITopLevelWindows& windows);

}  // namespace umbrane
