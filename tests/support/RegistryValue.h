// A registry value a test sets for the time it runs (in the test session's
// own Wine prefix), and removes with its key at the end.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

namespace umbrane::testing {

class RegistryValue {
 public:
  RegistryValue(const std::string& key, const std::string& name, const std::string& data,
                HKEY root = HKEY_CURRENT_USER)
      : key_(key), root_(root) {
    HKEY handle = nullptr;
    EXPECT_EQ(RegCreateKeyExA(root, key.c_str(), 0, nullptr, 0, KEY_WRITE | KEY_WOW64_64KEY,
                              nullptr, &handle, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(
        RegSetValueExA(handle, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1)),
        ERROR_SUCCESS);
    RegCloseKey(handle);
  }
  ~RegistryValue() { (void)RegDeleteKeyExA(root_, key_.c_str(), KEY_WOW64_64KEY, 0); }

 private:
  std::string key_;
  HKEY root_;
};

}  // namespace umbrane::testing
