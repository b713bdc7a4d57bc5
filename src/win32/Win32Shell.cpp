#include "win32/Win32Shell.h"

#include <windows.h>
#include <shellapi.h>

namespace umbrane::win32 {

void Win32Shell::Open(const std::string& target, WindowId parent) {
  // A missing file or association simply opens nothing; no caller acts on it.
  (void)ShellExecuteA(reinterpret_cast<HWND>(parent), "OPEN", target.c_str(), nullptr, nullptr,
                      SW_SHOWNORMAL);
}

}  // namespace umbrane::win32
