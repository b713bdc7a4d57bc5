// Small GDI helpers shared by the program's windows: fonts and colours from
// the skin, and a window procedure that hands messages to the C++ object
// behind the window.
#pragma once

#include <windows.h>

#include "skin/Skin.h"

namespace umbrane::win32 {

// A font of `style`, in points at `dpi` (the DPI of the window that shows it).
inline HFONT CreateSkinFont(const FontSpec& style, UINT dpi, bool underline = false,
                            bool bold = false) {
  const int height = -MulDiv(style.points, static_cast<int>(dpi), 72);
  return CreateFontA(height, 0, 0, 0, style.bold || bold ? FW_BOLD : FW_NORMAL, FALSE, underline,
                     FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, style.name.c_str());
}

inline COLORREF ToColorRef(const Rgb& c) {
  return RGB(c.r, c.g, c.b);
}

// The window procedure of a class whose windows are created with `this` as
// their creation parameter: messages go to Owner::OnMessage once the window
// handle is known to the object (Owner::Hwnd()).
template <typename Owner>
LRESULT CALLBACK ObjectWindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    (void)SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* owner = reinterpret_cast<Owner*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (owner == nullptr || owner->Hwnd() != hwnd) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  return owner->OnMessage(message, wParam, lParam);
}

}  // namespace umbrane::win32
