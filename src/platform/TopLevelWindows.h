// Port: walking the desktop's top-level windows in Z order, bringing one to
// the foreground and typing into it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace umbrane {

// A window handle as a number; 0 is no window.
using WindowId = std::uintptr_t;

// One synthesized key press or release, by virtual-key code.
struct KeyStroke {
  std::uint8_t virtualKey = 0;
  bool up = false;
  bool operator==(const KeyStroke&) const = default;
};

class ITopLevelWindows {
 public:
  virtual ~ITopLevelWindows() = default;

  virtual WindowId First() = 0;
  // The window after `window`, or 0.
  virtual WindowId Next(WindowId window) = 0;
  // The title, at most 254 characters.
  virtual std::string Title(WindowId window) = 0;
  // The window's class name.
  virtual std::string ClassName(WindowId window) = 0;
  // The file name of the program whose process owns the window
  // ("firefox.exe"), or empty when the system does not say.
  virtual std::string ProgramName(WindowId window) = 0;
  // True when `window` is the foreground window afterwards: the system may
  // refuse the switch to a program that is not in the foreground itself.
  virtual bool BringToForeground(WindowId window) = 0;
  // The keys go to whichever window has the keyboard focus.
  virtual void SendKeys(const std::vector<KeyStroke>& keys) = 0;
};

}  // namespace umbrane
