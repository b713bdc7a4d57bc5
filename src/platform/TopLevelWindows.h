// Port: walking the desktop's top-level windows in Z order.
#pragma once

#include <cstdint>
#include <string>

namespace umbrane {

// A window handle as a number; 0 is no window.
using WindowId = std::uintptr_t;

class ITopLevelWindows {
 public:
  virtual ~ITopLevelWindows() = default;

  virtual WindowId First() = 0;
  // The window after `window`, or 0.
  virtual WindowId Next(WindowId window) = 0;
  // The title, at most 254 characters.
  virtual std::string Title(WindowId window) = 0;
};

}  // namespace umbrane
