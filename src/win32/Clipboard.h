// Plain text onto the clipboard, replacing what was there.
#pragma once

#include <windows.h>

#include <string>

namespace umbrane::win32 {

// The clipboard is closed again in every case, also when putting fails.
bool PutClipboardText(HWND owner, const std::string& text);

}  // namespace umbrane::win32
