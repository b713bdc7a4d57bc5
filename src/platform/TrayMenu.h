// Port: the tray's popup menu, whose entries are the menu commands.
#pragma once

namespace umbrane {

class ITrayMenu {
 public:
  virtual ~ITrayMenu() = default;

  virtual void SetEnabled(int command, bool enabled) = 0;
  virtual bool Enabled(int command) = 0;
  // Opens the menu at the mouse position; returns when it closes. A chosen
  // entry arrives afterwards as its command.
  virtual void PopupAtCursor() = 0;
};

}  // namespace umbrane
