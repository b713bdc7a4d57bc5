// The tray's icons, made from the pictures drawn in code at one size.
#pragma once

#include <windows.h>

#include <array>

#include "platform/NotificationArea.h"
#include "skin/TrayArt.h"
#include "win32/Handle.h"

namespace umbrane::win32 {

class TrayImages {
 public:
  // Every picture at size x size pixels.
  explicit TrayImages(int size = kTrayImageSize);

  int Size() const { return size_; }

  // The list's image at `index` (clamped), or the start icon.
  HICON Icon(ImageListId list, int index) const;

  // A 32-bit icon with alpha from size x size pixels.
  static HICON MakeIcon(const TrayPixels& pixels, int size = kTrayImageSize);

 private:
  int size_;
  UniqueIcon start_;
  std::array<UniqueIcon, kBusyFrames> busy_;
  std::array<UniqueIcon, 2> status_;
};

}  // namespace umbrane::win32
