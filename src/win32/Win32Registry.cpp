#include "win32/Win32Registry.h"

#include <windows.h>

#include <vector>

#include "win32/Handle.h"

namespace umbrane::win32 {

namespace {

struct KeyTraits {
  static bool Valid(HKEY key) { return key != nullptr; }
  static void Close(HKEY key) { (void)RegCloseKey(key); }
};
using UniqueKey = UniqueResource<HKEY, KeyTraits>;

std::optional<std::string> ReadString(HKEY root, REGSAM view, const std::string& key,
                                      const std::string& name) {
  HKEY handle = nullptr;
  if (RegOpenKeyExA(root, key.c_str(), 0, KEY_READ | view, &handle) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  const UniqueKey opened(handle);
  DWORD type = 0;
  DWORD size = 0;
  if (RegQueryValueExA(opened.Get(), name.c_str(), nullptr, &type, nullptr, &size) !=
          ERROR_SUCCESS ||
      (type != REG_SZ && type != REG_EXPAND_SZ)) {
    return std::nullopt;
  }
  std::vector<char> data(size + 1, '\0');
  if (RegQueryValueExA(opened.Get(), name.c_str(), nullptr, &type,
                       reinterpret_cast<BYTE*>(data.data()), &size) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return std::string(data.data());  // up to the first NUL
}

}  // namespace

std::optional<std::string> Win32Registry::ReadUserString(const std::string& key,
                                                         const std::string& name) {
  return ReadString(HKEY_CURRENT_USER, 0, key, name);
}

std::optional<std::string> Win32Registry::ReadMachineString(const std::string& key,
                                                            const std::string& name) {
  // A 32-bit program would otherwise read the 32-bit view of the machine's
  // software, where a 64-bit browser's policies are not.
  return ReadString(HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY, key, name);
}

}  // namespace umbrane::win32
