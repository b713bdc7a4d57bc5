#include "win32/Win32NotificationArea.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <utility>

#include "app/TfrmMain.h"
#include "win32/Dpi.h"
#include "win32/Gdi.h"
#include "win32/SystemError.h"

// The record with balloon fields, as the program hands it to the shell.
#ifndef _WIN64
static_assert(NOTIFYICONDATAA_V2_SIZE == 488, "the notification record of 32-bit Windows");
#endif

namespace umbrane::win32 {

namespace {

constexpr UINT_PTR kCycleTimer = 1;
constexpr UINT_PTR kRetryTimer = 2;
constexpr UINT kIconId = 1;

template <std::size_t N>
void CopyText(char (&field)[N], const std::string& text) {
  const std::size_t n = std::min(text.size(), N - 1);
  std::memcpy(field, text.data(), n);
  field[n] = '\0';
}

int SmallIconSize(HWND window) {
  return std::max(kTrayImageSize / 2, MetricForDpi(SM_CXSMICON, WindowDpi(window)));
}

TrayMouse MouseOf(LPARAM lParam) {
  switch (static_cast<UINT>(lParam)) {
    case WM_LBUTTONDOWN:
      return TrayMouse::LeftDown;
    case WM_LBUTTONUP:
      return TrayMouse::LeftUp;
    case WM_LBUTTONDBLCLK:
      return TrayMouse::LeftDoubleClick;
    case WM_RBUTTONDOWN:
      return TrayMouse::RightDown;
    case WM_RBUTTONUP:
      return TrayMouse::RightUp;
    default:
      return TrayMouse::Other;
  }
}

}  // namespace

Win32NotificationArea::Win32NotificationArea(HINSTANCE instance)
    : taskbarCreated_(RegisterWindowMessageA("TaskbarCreated")) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &ObjectWindowProc<Win32NotificationArea>;
  wc.hInstance = instance;
  wc.lpszClassName = kTrayWindowClass;
  (void)RegisterClassExA(&wc);  // a second registration fails harmlessly
  // A hidden top-level window (not message-only): the shell's broadcast
  // "TaskbarCreated" reaches top-level windows only.
  hwnd_ = CreateWindowExA(WS_EX_TOOLWINDOW, kTrayWindowClass, "Umbrane tray", WS_POPUP, 0, 0, 0, 0,
                          nullptr, nullptr, instance, this);
  if (hwnd_ == nullptr) {
    throw std::runtime_error("Cannot create the tray window. " + SystemErrorText(GetLastError()));
  }
  data_.cbSize = NOTIFYICONDATAA_V2_SIZE;
  data_.hWnd = hwnd_;
  data_.uID = kIconId;
  data_.uCallbackMessage = kTrayCallbackMessage;
  images_ = std::make_unique<TrayImages>(SmallIconSize(hwnd_));
}

Win32NotificationArea::~Win32NotificationArea() {
  (void)KillTimer(hwnd_, kCycleTimer);
  (void)KillTimer(hwnd_, kRetryTimer);
  (void)DestroyWindow(hwnd_);
}

bool Win32NotificationArea::Send(DWORD action, const TrayRecord& record) {
  data_.uFlags = record.flags;
  data_.hIcon = images_->Icon(record.list, record.index);
  if ((record.flags & NIF_ICON) != 0) {
    list_ = record.list;
    index_ = record.index;
  }
  CopyText(data_.szTip, record.tip);
  CopyText(data_.szInfo, record.info);
  CopyText(data_.szInfoTitle, record.infoTitle);
  data_.uTimeout = record.timeoutMs;
  data_.dwInfoFlags = record.infoFlags;
  return Shell_NotifyIconA(action, &data_) != FALSE;
}

bool Win32NotificationArea::Add(const TrayRecord& record) {
  const bool added = Send(NIM_ADD, record);
  shown_ = shown_ || added;
  return added;
}

bool Win32NotificationArea::Modify(const TrayRecord& record) {
  return Send(NIM_MODIFY, record);
}

void Win32NotificationArea::Delete() {
  (void)Shell_NotifyIconA(NIM_DELETE, &data_);  // nothing to do when it is gone already
  shown_ = false;
}

void Win32NotificationArea::RefreshImages() {
  const int size = SmallIconSize(hwnd_);
  if (size == images_->Size()) {
    return;
  }
  auto images = std::make_unique<TrayImages>(size);
  if (shown_) {
    // The shell keeps its own copy of the picture; the old icons may go
    // once it has the new one.
    NOTIFYICONDATAA data = data_;
    data.uFlags = NIF_ICON;
    data.hIcon = images->Icon(list_, index_);
    (void)Shell_NotifyIconA(NIM_MODIFY, &data);
  }
  images_ = std::move(images);
  data_.hIcon = images_->Icon(list_, index_);
}

void Win32NotificationArea::SetVersion(unsigned version) {
  data_.uVersion = version;
  (void)Shell_NotifyIconA(NIM_SETVERSION, &data_);
}

void Win32NotificationArea::StartCycleTimer(unsigned intervalMs) {
  (void)SetTimer(hwnd_, kCycleTimer, intervalMs, nullptr);
}

void Win32NotificationArea::StopCycleTimer() {
  (void)KillTimer(hwnd_, kCycleTimer);
}

void Win32NotificationArea::StartRetryTimer(unsigned intervalMs) {
  (void)SetTimer(hwnd_, kRetryTimer, intervalMs, nullptr);
}

void Win32NotificationArea::StopRetryTimer() {
  (void)KillTimer(hwnd_, kRetryTimer);
}

LRESULT Win32NotificationArea::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  TfrmMain* main = controller_;
  if (main != nullptr) {
    if (message == WM_TIMER && wParam == kCycleTimer) {
      main->Dispatch([main] { main->ctiControl().CycleTick(); });
      return 0;
    }
    if (message == WM_TIMER && wParam == kRetryTimer) {
      main->Dispatch([main] { main->ctiControl().RetryTick(); });
      return 0;
    }
    if (message == kTrayCallbackMessage) {
      const TrayMouse action = MouseOf(lParam);
      main->Dispatch([main, action] { main->ctiControl().MouseAction(action); });
      return 0;
    }
    if (message == taskbarCreated_ && taskbarCreated_ != 0) {
      // A new shell (also after a DPI change) takes the icon at its size.
      shown_ = false;
      RefreshImages();
      main->Dispatch([main] { main->ctiControl().TaskbarCreated(); });
      return 0;
    }
  }
  if (message == kDpiChangedMessage || message == WM_DISPLAYCHANGE || message == WM_SETTINGCHANGE) {
    RefreshImages();
    return message == kDpiChangedMessage ? 0 : DefWindowProcA(hwnd_, message, wParam, lParam);
  }
  return DefWindowProcA(hwnd_, message, wParam, lParam);
}

}  // namespace umbrane::win32
