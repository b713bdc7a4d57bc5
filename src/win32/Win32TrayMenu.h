// The tray menu port: a popup menu with the seven commands, opened at the
// mouse position on behalf of the main window, which receives the command.
#pragma once

#include <windows.h>

#include "platform/TrayMenu.h"
#include "skin/Skin.h"
#include "win32/Handle.h"

namespace umbrane::win32 {

struct MenuTraits {
  static bool Valid(HMENU menu) { return menu != nullptr; }
  static void Close(HMENU menu) { (void)DestroyMenu(menu); }
};

class Win32TrayMenu final : public ITrayMenu {
 public:
  // `owner` receives the chosen command as WM_COMMAND.
  explicit Win32TrayMenu(HWND owner);

  HMENU Handle() const { return menu_.Get(); }
  void ApplyLook(const SkinLook& look);

  void SetEnabled(int command, bool enabled) override;
  bool Enabled(int command) override;
  void PopupAtCursor() override;

 private:
  HWND owner_;
  UniqueResource<HMENU, MenuTraits> menu_;
  UniqueResource<HGDIOBJ, GdiObjectTraits> background_;
};

}  // namespace umbrane::win32
