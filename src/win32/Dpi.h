// The resolution a window is shown at. The program's windows are laid out in
// 96-DPI units and scaled to their monitor's DPI. The per-monitor functions
// came with Windows 10; they are looked up at run time so that the program
// still starts on older systems, which have one DPI for every monitor.
#pragma once

#include <windows.h>

namespace umbrane::win32 {

inline constexpr UINT kBaseDpi = 96;
// Sent to a top-level window whose monitor's DPI changed, or that moved to
// a monitor with another DPI.
inline constexpr UINT kDpiChangedMessage = 0x02E0;

namespace dpi_detail {

template <typename Function>
Function User32(const char* name) {
  HMODULE user32 = GetModuleHandleA("user32.dll");
  return user32 == nullptr
             ? nullptr
             : reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(user32, name)));
}

inline UINT SystemDpi() {
  HDC screen = GetDC(nullptr);
  const int dpi = GetDeviceCaps(screen, LOGPIXELSY);
  (void)ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : kBaseDpi;
}

}  // namespace dpi_detail

// The DPI of `window`'s monitor (the system's for a null window).
inline UINT WindowDpi(HWND window) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static const auto forWindow = dpi_detail::User32<GetDpiForWindowFn>("GetDpiForWindow");
  if (window != nullptr && forWindow != nullptr) {
    const UINT dpi = forWindow(window);
    if (dpi != 0) {
      return dpi;
    }
  }
  return dpi_detail::SystemDpi();
}

// `value` 96-DPI units at `dpi`.
inline int Scale(int value, UINT dpi) {
  return MulDiv(value, static_cast<int>(dpi), static_cast<int>(kBaseDpi));
}

// A system metric (SM_CXSMICON, ...) at `dpi`.
inline int MetricForDpi(int index, UINT dpi) {
  using GetSystemMetricsForDpiFn = int(WINAPI*)(int, UINT);
  static const auto forDpi = dpi_detail::User32<GetSystemMetricsForDpiFn>("GetSystemMetricsForDpi");
  if (forDpi != nullptr) {
    const int value = forDpi(index, dpi);
    if (value > 0) {
      return value;
    }
  }
  // The plain metric is at the system DPI.
  return MulDiv(GetSystemMetrics(index), static_cast<int>(dpi),
                static_cast<int>(dpi_detail::SystemDpi()));
}

// The frame of a window with a client area of `client` at `dpi`.
inline RECT FrameForClient(RECT client, DWORD style, DWORD exStyle, UINT dpi) {
  using AdjustForDpiFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static const auto forDpi = dpi_detail::User32<AdjustForDpiFn>("AdjustWindowRectExForDpi");
  if (forDpi == nullptr || forDpi(&client, style, FALSE, exStyle, dpi) == FALSE) {
    (void)AdjustWindowRectEx(&client, style, FALSE, exStyle);
  }
  return client;
}

// The system's message font at `dpi`.
inline LOGFONTA MessageFontForDpi(UINT dpi) {
  NONCLIENTMETRICSA metrics = {};
  metrics.cbSize = sizeof metrics;
  (void)SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  // Given at the system DPI.
  metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi),
                                          static_cast<int>(dpi_detail::SystemDpi()));
  return metrics.lfMessageFont;
}

}  // namespace umbrane::win32
