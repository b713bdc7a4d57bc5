#include "win32/Win32System.h"

#include <windows.h>
#include <shlobj.h>

#include <string>

namespace umbrane::win32 {

namespace {

// RtlGetVersion tells the true version: GetVersionEx answers 6.2 to any
// program whose manifest does not list the newer systems.
using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);

std::string UpToNul(const char* text) {
  return std::string(text);
}

// A path the system gives in UTF-16, in the program's code page (UTF-8, as
// its manifest asks, on Windows 10 1903 and later). Asked for in UTF-16, so
// that a path of up to MAX_PATH characters never overflows a byte buffer:
// in UTF-8 one character may take three bytes.
std::string Narrow(const wchar_t* text, int length = -1) {
  const int bytes = WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
  if (bytes <= 0) {
    return {};
  }
  std::string out(static_cast<std::size_t>(bytes), '\0');
  (void)WideCharToMultiByte(CP_ACP, 0, text, length, out.data(), bytes, nullptr, nullptr);
  if (length < 0) {
    out.pop_back();  // the converted NUL
  }
  return out;
}

}  // namespace

OsVersion Win32System::Version() {
  if (HMODULE ntdll = GetModuleHandleA("ntdll.dll")) {
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFn>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    OSVERSIONINFOW info = {};
    info.dwOSVersionInfoSize = sizeof info;
    if (rtlGetVersion != nullptr && rtlGetVersion(&info) == 0) {
      return {info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber};
    }
  }
  OSVERSIONINFOA info = {};
  info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  if (!GetVersionExA(&info)) {
    return {};
  }
#pragma GCC diagnostic pop
  return {info.dwPlatformId, info.dwMajorVersion, info.dwMinorVersion, info.dwBuildNumber & 0xFFFF};
}

std::string Win32System::WindowsDirectory() {
  char buffer[261] = {};
  (void)GetWindowsDirectoryA(buffer, sizeof buffer);  // empty on failure
  return UpToNul(buffer);
}

std::string Win32System::SpecialFolder(int csidl) {
  // No owner window: the owner only matters for folders that need a dial-up
  // connection, which the application-data folder never does.
  LPITEMIDLIST items = nullptr;
  if (FAILED(SHGetSpecialFolderLocation(nullptr, csidl, &items)) || items == nullptr) {
    return {};
  }
  wchar_t buffer[MAX_PATH + 1] = {};
  const BOOL ok = SHGetPathFromIDListW(items, buffer);
  CoTaskMemFree(items);
  return ok ? Narrow(buffer) : std::string();
}

std::string Win32System::TempPath() {
  wchar_t buffer[MAX_PATH + 2] = {};
  (void)GetTempPathW(MAX_PATH + 1, buffer);  // empty on failure
  return Narrow(buffer);
}

std::string Win32System::ExecutablePath() {
  std::wstring buffer(32768, L'\0');  // the longest path there is
  const DWORD length =
      GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
  return length == 0 ? std::string() : Narrow(buffer.data(), static_cast<int>(length));
}

unsigned Win32System::UiLanguage() {
  return GetUserDefaultUILanguage();
}

unsigned Win32System::SystemLanguage() {
  return GetSystemDefaultLangID();
}

std::int32_t Win32System::MachineId() {
  // The serial number of the Windows volume: stable for the machine and
  // telling nothing about its user.
  char root[MAX_PATH + 1] = {};
  (void)GetWindowsDirectoryA(root, MAX_PATH);
  root[3] = '\0';  // "C:\"
  DWORD serial = 0;
  if (!GetVolumeInformationA(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
    return 0;
  }
  return static_cast<std::int32_t>(serial);
}

}  // namespace umbrane::win32
