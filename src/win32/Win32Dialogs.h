// The dialog port on the system message box.
#pragma once

#include "platform/Dialogs.h"

namespace umbrane::win32 {

class Win32Dialogs final : public IDialogs {
 public:
  MessageAnswer ShowMessageBox(const std::string& text, MessageKind kind,
                               MessageButtons buttons) override;
  void ShowErrorBox(const std::string& caption, const std::string& text) override;
};

}  // namespace umbrane::win32
