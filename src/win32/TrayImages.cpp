#include "win32/TrayImages.h"

#include <algorithm>

namespace umbrane::win32 {

HICON TrayImages::MakeIcon(const TrayPixels& pixels, int size) {
  BITMAPV5HEADER header = {};
  header.bV5Size = sizeof header;
  header.bV5Width = size;
  header.bV5Height = -size;  // top-down rows, as drawn
  header.bV5Planes = 1;
  header.bV5BitCount = 32;
  header.bV5Compression = BI_BITFIELDS;
  header.bV5RedMask = 0x00FF0000;
  header.bV5GreenMask = 0x0000FF00;
  header.bV5BlueMask = 0x000000FF;
  header.bV5AlphaMask = 0xFF000000;
  void* bits = nullptr;
  HDC screen = GetDC(nullptr);
  UniqueResource<HGDIOBJ, GdiObjectTraits> color(CreateDIBSection(
      screen, reinterpret_cast<BITMAPINFO*>(&header), DIB_RGB_COLORS, &bits, nullptr, 0));
  (void)ReleaseDC(nullptr, screen);
  if (!color.Valid() || bits == nullptr ||
      pixels.size() != static_cast<std::size_t>(size) * static_cast<std::size_t>(size)) {
    return nullptr;
  }
  std::copy(pixels.begin(), pixels.end(), static_cast<std::uint32_t*>(bits));
  // The mask is unused with an alpha channel but must exist.
  UniqueResource<HGDIOBJ, GdiObjectTraits> mask(CreateBitmap(size, size, 1, 1, nullptr));
  ICONINFO info = {};
  info.fIcon = TRUE;
  info.hbmColor = static_cast<HBITMAP>(color.Get());
  info.hbmMask = static_cast<HBITMAP>(mask.Get());
  return CreateIconIndirect(&info);  // copies both bitmaps
}

TrayImages::TrayImages(int size) : size_(size), start_(MakeIcon(DrawStartIcon(size), size)) {
  for (int i = 0; i < kBusyFrames; ++i) {
    busy_[static_cast<std::size_t>(i)].Reset(MakeIcon(DrawBusyFrame(i, size), size));
  }
  status_[0].Reset(MakeIcon(DrawStatusImage(true, size), size));
  status_[1].Reset(MakeIcon(DrawStatusImage(false, size), size));
}

HICON TrayImages::Icon(ImageListId list, int index) const {
  switch (list) {
    case ImageListId::Busy:
      return busy_[static_cast<std::size_t>(std::clamp(index, 0, kBusyFrames - 1))].Get();
    case ImageListId::Status:
      return status_[static_cast<std::size_t>(std::clamp(index, 0, 1))].Get();
    default:
      return start_.Get();
  }
}

}  // namespace umbrane::win32
