#include "win32/Win32TrayMenu.h"

#include "app/Commands.h"

namespace umbrane::win32 {

Win32TrayMenu::Win32TrayMenu(HWND owner) : owner_(owner), menu_(CreatePopupMenu()) {
  struct Entry {
    int command;
    const char* caption;
  };
  static constexpr Entry kEntries[] = {
      {kCmdUmbrane1, "&Umbrane"},
      {kCmdStopUmbrane1, "&Stop Umbrane"},
      {kCmdSeeMyIP1, "SEE my &IP..."},
      {kCmdReport1, "&Report..."},
      {kCmdHelp1, "Hel&p..."},
      {kCmdAbout1, "&About..."},
      {kCmdExit1, "&Exit"},
  };
  for (const Entry& e : kEntries) {
    (void)AppendMenuA(menu_.Get(), MF_STRING, static_cast<UINT_PTR>(e.command), e.caption);
  }
}

void Win32TrayMenu::ApplyLook(const SkinLook& look) {
  background_.Reset(CreateSolidBrush(RGB(look.menuColor.r, look.menuColor.g, look.menuColor.b)));
  MENUINFO info = {};
  info.cbSize = sizeof info;
  info.fMask = MIM_BACKGROUND;
  info.hbrBack = static_cast<HBRUSH>(background_.Get());
  (void)SetMenuInfo(menu_.Get(), &info);  // the system look stays when it fails
}

void Win32TrayMenu::SetEnabled(int command, bool enabled) {
  (void)EnableMenuItem(menu_.Get(), static_cast<UINT>(command),
                       MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

bool Win32TrayMenu::Enabled(int command) {
  const UINT state = GetMenuState(menu_.Get(), static_cast<UINT>(command), MF_BYCOMMAND);
  return state != static_cast<UINT>(-1) && (state & (MF_GRAYED | MF_DISABLED)) == 0;
}

void Win32TrayMenu::PopupAtCursor() {
  // The owner must be in the foreground, or the menu does not close when
  // the user clicks elsewhere; the WM_NULL afterwards lets it close cleanly.
  (void)SetForegroundWindow(owner_);
  POINT at = {};
  (void)GetCursorPos(&at);
  (void)TrackPopupMenu(menu_.Get(), TPM_RIGHTBUTTON, at.x, at.y, 0, owner_, nullptr);
  (void)PostMessageA(owner_, WM_NULL, 0, 0);
}

}  // namespace umbrane::win32
