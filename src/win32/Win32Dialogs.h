// The dialog port: the standard message box and the skinned notice, both
// built here (so that the buttons read "&Yes", "&No" and "OK" everywhere and
// Escape and the close box answer as the program wants), and the top-level
// error box. A modal one runs its own loop: timers and the tray keep being
// served while it is up. One shown without waiting (the notices, the
// session's boxes) lives on the program's loop, which hands it its keys
// through ModelessDialogMessage.
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
  void ShowMessageBoxLater(const std::string& text, MessageKind kind, MessageButtons buttons,
                           std::function<void(MessageAnswer)> answered) override;
  void ShowErrorBox(const std::string& caption, const std::string& text) override;
  void ShowNotice(const SkinLook& look, const std::string& caption,
                  const std::string& buttonCaption, const std::string& text) override;

 private:
  HWND owner_ = nullptr;
};

// Tab, Enter, Escape and a notice's Ctrl+C for a dialog shown without
// waiting: true when `msg` went to one of them.
bool ModelessDialogMessage(MSG& msg);

}  // namespace umbrane::win32
