#include "proxy/Probes.h"

namespace umbrane {

namespace {

// Names of the NT family after Vista. The version is the true one (the
// Win32 adapter asks the kernel), so Windows 8.1 and later are told apart.
std::string ModernNtName(const OsVersion& v) {
  if (v.major == 6) {
    switch (v.minor) {
      case 1:
        return "Win7";
      case 2:
        return "Win8";
      case 3:
        return "Win81";
      default:
        break;
    }
  }
  if (v.major == 10 && v.minor == 0) {
    return v.build >= 22000 ? "Win11" : "Win10";
  }
  // A later NT release: still the NT family, with its per-user folders.
  return "WinNT";
}

}  // namespace

std::string GetOSName(const OsVersion& v) {
  if (v.platformId == kPlatformWindows9x) {
    if (v.major > 4 || (v.major == 4 && v.minor > 0)) {
      return "Win98";
    }
    return "Win95";
  }
  if (v.major <= 4) {
    return "WinNT";
  }
  if (v.major == 5) {
    return v.minor == 0 ? "Win2000" : "WinXP";
  }
  if (v.major == 6 && v.minor == 0) {
    return "Vista";
  }
  if (v.platformId == kPlatformWindowsNT) {
    return ModernNtName(v);
  }
  return "Unknown";
}

std::string GetOSName(ISystem& system) {
  return GetOSName(system.Version());
}

std::string GetAppDataFolder(ISystem& system) {
  const std::string name = GetOSName(system);
  if (name == "Unknown") {
    return {};
  }
  if (name == "Win95" || name == "Win98") {
    return AddTrailingBackslash(GetWindowsFolder(system)) + "Application Data\\";
  }
  return AddTrailingBackslash(GetSpecialFolder(system, kCsidlAppData));
}

std::string GetWindowsFolder(ISystem& system) {
  return system.WindowsDirectory();
}

std::string GetSpecialFolder(ISystem& system, int csidl) {
  return system.SpecialFolder(csidl);
}

std::string GetTempFolder(ISystem& system) {
  return AddTrailingBackslash(system.TempPath());
}

bool EnsureFolder(IFileSystem& files, const std::string& folder) {
  return files.FolderExists(folder) || files.CreateFolder(folder);
}

std::vector<std::string> GetProcessList(IProcessList& processes) {
  return processes.Names();
}

std::string GetRunningBrowser(IProcessList& processes) {
  std::string result;
  for (const std::string& name : GetProcessList(processes)) {
    const std::string lower = LowerCase(name);
    if (lower.find("firefox") != std::string::npos) {
      result = "Firefox";
    }
    if (lower.find("opera") != std::string::npos) {
      result = "Opera";
    }
    if (lower.find("netscp") != std::string::npos) {
      result = "Netscape";
    }
  }
  return result;
}

namespace {

// The first of at most 1,001 top-level windows `matches` accepts, or 0.
template <typename Matches>
WindowId FindWindowWhere(ITopLevelWindows& windows, Matches matches) {
  WindowId window = windows.First();
  if (window != 0 && matches(window)) {
    return window;
  }
  for (int tried = 0; window != 0 && tried < 1000; ++tried) {
    window = windows.Next(window);
    if (window != 0 && matches(window)) {
      return window;
    }
  }
  return 0;
}

bool TitleHas(ITopLevelWindows& windows, WindowId window, const std::string& lowerText) {
  return LowerCase(windows.Title(window)).find(lowerText) != std::string::npos;
}

}  // namespace

WindowId FindWindowByTitle(ITopLevelWindows& windows, std::string_view text) {
  if (text.empty()) {
    return 0;
  }
  const std::string wanted = LowerCase(text);
  return FindWindowWhere(windows, [&](WindowId w) { return TitleHas(windows, w, wanted); });
}

WindowId FindFirefoxWindow(ITopLevelWindows& windows) {
  return FindWindowWhere(windows, [&](WindowId w) {
    return TitleHas(windows, w, "mozilla firefox") &&
           windows.ClassName(w) == "MozillaWindowClass" &&
           LowerCase(windows.ProgramName(w)) == "firefox.exe";
  });
}

}  // namespace umbrane
