#include "win32/Clipboard.h"

#include <cstring>

namespace umbrane::win32 {

bool PutClipboardText(HWND owner, const std::string& text) {
  if (!OpenClipboard(owner)) {
    return false;
  }
  bool done = false;
  if (EmptyClipboard()) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, text.size() + 1);
    if (memory != nullptr) {
      if (void* target = GlobalLock(memory)) {
        std::memcpy(target, text.c_str(), text.size() + 1);
        (void)GlobalUnlock(memory);
        done = SetClipboardData(CF_TEXT, memory) != nullptr;
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
