#include "win32/MainWindow.h"

#include <stdexcept>

#include "app/TfrmMain.h"
#include "win32/SystemError.h"

namespace umbrane::win32 {

namespace {

constexpr int kClientWidth = 357;
constexpr int kClientHeight = 322;
constexpr int kAppNameTop = 48;
constexpr DWORD kStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;

HFONT CreatePointFont(int points) {
  HDC screen = GetDC(nullptr);
  const int height = -MulDiv(points, GetDeviceCaps(screen, LOGPIXELSY), 72);
  (void)ReleaseDC(nullptr, screen);
  return CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                     OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                     DEFAULT_PITCH | FF_SWISS, "Tahoma");
}

void RegisterMainClass(HINSTANCE instance, WNDPROC proc) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = kMainWindowClass;
  // A second registration in the same process fails harmlessly.
  (void)RegisterClassExA(&wc);
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance)
    : formFont_(CreatePointFont(8)), appNameFont_(CreatePointFont(18)) {
  RegisterMainClass(instance, &MainWindow::WindowProc);
  RECT frame = {0, 0, kClientWidth, kClientHeight};
  (void)AdjustWindowRectEx(&frame, kStyle, FALSE, 0);
  const int width = frame.right - frame.left;
  const int height = frame.bottom - frame.top;
  hwnd_ = CreateWindowExA(0, kMainWindowClass, "Umbrane", kStyle,
                          (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                          (GetSystemMetrics(SM_CYSCREEN) - height) / 2, width, height, nullptr,
                          nullptr, instance, this);
  if (hwnd_ == nullptr) {
    throw std::runtime_error("Cannot create the main window. " + SystemErrorText(GetLastError()));
  }
  (void)SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(formFont_.Get()), FALSE);
  appName_ = CreateWindowExA(0, "STATIC", "", WS_CHILD | WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 0,
                             kAppNameTop, 0, 0, hwnd_, nullptr, instance, nullptr);
  if (appName_ != nullptr) {
    (void)SendMessageA(appName_, WM_SETFONT, reinterpret_cast<WPARAM>(appNameFont_.Get()), FALSE);
  }
}

MainWindow::~MainWindow() {
  if (hwnd_ != nullptr && IsWindow(hwnd_)) {
    (void)DestroyWindow(hwnd_);
  }
}

int MainWindow::SetAppNameCaption(const std::string& caption) {
  if (appName_ == nullptr) {
    return 0;
  }
  (void)SetWindowTextA(appName_, caption.c_str());
  // The label sizes itself to its text in its own font.
  SIZE size = {};
  HDC dc = GetDC(appName_);
  HGDIOBJ old = SelectObject(dc, appNameFont_.Get());
  (void)GetTextExtentPoint32A(dc, caption.c_str(), static_cast<int>(caption.size()), &size);
  (void)SelectObject(dc, old);
  (void)ReleaseDC(appName_, dc);
  (void)SetWindowPos(appName_, nullptr, 0, 0, size.cx, size.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return size.cx;
}

void MainWindow::SetAppNameLeft(int left) {
  if (appName_ != nullptr) {
    (void)SetWindowPos(appName_, nullptr, left, kAppNameTop, 0, 0,
                       SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
}

int MainWindow::OuterWidth() {
  RECT r = {};
  (void)GetWindowRect(hwnd_, &r);
  return r.right - r.left;
}

void MainWindow::Close() {
  (void)PostMessageA(hwnd_, WM_CLOSE, 0, 0);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
    (void)SetWindowLongPtrA(hwnd, GWLP_USERDATA,
                            reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self == nullptr || self->hwnd_ != hwnd) {
    return DefWindowProcA(hwnd, message, wParam, lParam);
  }
  return self->OnMessage(message, wParam, lParam);
}

LRESULT MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CLOSE:
      // Closing the main window by any means ends the program, after the
      // shutdown sequence; an error in it is shown and the close goes on.
      if (controller_ != nullptr) {
        controller_->Dispatch([this] { controller_->FormClose(); });
        controller_ = nullptr;
      }
      (void)DestroyWindow(hwnd_);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    case WM_COMMAND:
      if (controller_ != nullptr) {
        const int command = LOWORD(wParam);
        controller_->Dispatch([this, command] { controller_->OnCommand(command); });
      }
      return 0;
    default:
      return DefWindowProcA(hwnd_, message, wParam, lParam);
  }
}

}  // namespace umbrane::win32
