// Port: the main (about) window as the controller sees it. The window itself,
// its message handling and its look live in the Win32 adapter.
#pragma once

#include <string>

#include "platform/TopLevelWindows.h"
#include "platform/Look.h"

namespace umbrane {

class IMainForm {
 public:
  virtual ~IMainForm() = default;

  virtual WindowId Handle() = 0;
  // The window (and the tray menu) take this look.
  virtual void ApplySkin(const SkinLook& look) = 0;
  // Sets the version label's caption; the label sizes itself to the text and
  // its new width in pixels is returned.
  virtual int SetAppNameCaption(const std::string& caption) = 0;
  virtual void SetAppNameLeft(int left) = 0;
  // Outer width of the window in pixels, frame included.
  virtual int OuterWidth() = 0;
  // Restores the window if minimized, shows it and brings it to the front.
  virtual void Show() = 0;
  // Hides the window; no task-bar button remains.
  virtual void Hide() = 0;
  // Asks the window to close. The close runs from the message loop, which
  // then calls the controller's FormClose.
  virtual void Close() = 0;
};

}  // namespace umbrane
