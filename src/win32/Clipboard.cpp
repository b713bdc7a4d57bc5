#include "win32/Clipboard.h"

namespace umbrane::win32 {

bool PutClipboardText(HWND owner, const std::string& text) {
  // As UTF-16: the system would read CF_TEXT in the user's code page, not
  // in the program's (UTF-8).
  const int units = MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
  if (units <= 0 || !OpenClipboard(owner)) {
    return false;
  }
  bool done = false;
  if (EmptyClipboard()) {
    const std::size_t bytes = static_cast<std::size_t>(units) * sizeof(wchar_t);
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (memory != nullptr) {
      if (void* target = GlobalLock(memory)) {
        (void)MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, static_cast<wchar_t*>(target),
                                  units);
        (void)GlobalUnlock(memory);
        done = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
      }
      if (!done) {
        (void)GlobalFree(memory);  // the clipboard owns it only on success
      }
    }
  }
  (void)CloseClipboard();
  return done;
}

}  // namespace umbrane::win32
