// The tray's icons, made once from the pictures drawn in code.
#pragma once

#include <windows.h>

#include <array>

#include "platform/NotificationArea.h"
#include "skin/TrayArt.h"
#include "win32/Handle.h"

namespace umbrane::win32 {

struct IconTraits {
  static bool Valid(HICON icon) { return icon != nullptr; }
  static void Close(HICON icon) { (void)DestroyIcon(icon); }
};

using UniqueIcon = UniqueResource<HICON, IconTraits>;

class TrayImages {
 public:
  TrayImages();

  // The list's image at `index` (clamped), or the start icon.
  HICON Icon(ImageListId list, int index) const;

  // A 32-bit icon with alpha from size x size pixels.
  static HICON MakeIcon(const TrayPixels& pixels, int size = kTrayImageSize);

 private:
  UniqueIcon start_;
  std::array<UniqueIcon, kBusyFrames> busy_;
  std::array<UniqueIcon, 2> status_;
};

}  // namespace umbrane::win32
