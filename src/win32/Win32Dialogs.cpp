#include "win32/Win32Dialogs.h"

#include <windows.h>

namespace umbrane::win32 {

MessageAnswer Win32Dialogs::ShowMessageBox(const std::string& text, MessageKind kind,
                                           MessageButtons buttons) {
  const bool yesNo = buttons == MessageButtons::YesNo;
  UINT style = (kind == MessageKind::Error ? MB_ICONERROR : MB_ICONWARNING) |
               (yesNo ? MB_YESNO | MB_DEFBUTTON1 : MB_OK) | MB_TASKMODAL | MB_SETFOREGROUND;
  const char* caption = kind == MessageKind::Error ? "Error" : "Warning";
  const int answer = MessageBoxA(nullptr, text.c_str(), caption, style);
  if (!yesNo) {
    return MessageAnswer::Ok;
  }
  // Only Yes is consent: Escape, the close box or a failed box answer No.
  return answer == IDYES ? MessageAnswer::Yes : MessageAnswer::No;
}

void Win32Dialogs::ShowErrorBox(const std::string& caption, const std::string& text) {
  (void)MessageBoxA(nullptr, text.c_str(), caption.c_str(),
                    MB_ICONERROR | MB_OK | MB_TASKMODAL | MB_SETFOREGROUND);
}

}  // namespace umbrane::win32
