// The dialog port: the standard message box and the skinned notice, both
// built here (so that the buttons read "&Yes", "&No" and "OK" everywhere and
// Escape and the close box answer as the program wants), and the top-level
// error box. Each runs its own modal loop: timers and the tray keep being
// served while it is up.
#pragma once

#include <windows.h>

#include "platform/Dialogs.h"

namespace umbrane::win32 {

inline constexpr const char* kDialogClass = "#32770";

class Win32Dialogs final : public IDialogs {
 public:
  // From now on the dialogs are owned by `owner` (the main window), so they
  // belong to the program and stay above it; null for none.
  void SetOwner(HWND owner) { owner_ = owner; }

  MessageAnswer ShowMessageBox(const std::string& text, MessageKind kind,
                               MessageButtons buttons) override;
  void ShowErrorBox(const std::string& caption, const std::string& text) override;
  void ShowNotice(const SkinLook& look, const std::string& caption,
                  const std::string& buttonCaption, const std::string& text) override;

 private:
  HWND owner_ = nullptr;
};

}  // namespace umbrane::win32
