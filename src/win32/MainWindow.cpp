#include "win32/MainWindow.h"

#include <stdexcept>

#include "app/Commands.h"
#include "app/TfrmMain.h"
#include "win32/Dpi.h"
#include "win32/Gdi.h"
#include "win32/SystemError.h"

namespace umbrane::win32 {

namespace {

// The window's layout, in 96-DPI units.
constexpr int kClientWidth = 357;
constexpr int kClientHeight = 322;
constexpr int kBadgeSize = 48;
constexpr int kBadgeTop = 32;
constexpr int kAppNameTop = 100;
constexpr int kLinkTop = 180;
constexpr int kOkWidth = 113;
constexpr int kOkHeight = 33;
UINT_PTR TimerNumber(TimerId id) {
  return id == TimerId::Read ? 1 : 2;
}

constexpr DWORD kStyle = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;

SIZE TextSize(HWND window, HFONT font, const std::string& text) {
  SIZE size = {};
  HDC dc = GetDC(window);
  HGDIOBJ old = SelectObject(dc, font);
  (void)GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &size);
  (void)SelectObject(dc, old);
  (void)ReleaseDC(window, dc);
  return size;
}

void RegisterClass(HINSTANCE instance, const char* name, WNDPROC proc) {
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = proc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.lpszClassName = name;
  (void)RegisterClassExA(&wc);  // a second registration fails harmlessly
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance) {
  RegisterClass(instance, kApplicationWindowClass, DefWindowProcA);
  RegisterClass(instance, kMainWindowClass, &ObjectWindowProc<MainWindow>);
  application_ = CreateWindowExA(WS_EX_TOOLWINDOW, kApplicationWindowClass, "Umbrane", WS_POPUP, 0,
                                 0, 0, 0, nullptr, nullptr, instance, nullptr);
  hwnd_ = CreateWindowExA(WS_EX_DLGMODALFRAME, kMainWindowClass, "Umbrane", kStyle, 0, 0,
                          kClientWidth, kClientHeight, application_, nullptr, instance, this);
  if (application_ == nullptr || hwnd_ == nullptr) {
    throw std::runtime_error("Cannot create the main window. " + SystemErrorText(GetLastError()));
  }
  CreateControls(instance);
  menu_ = std::make_unique<Win32TrayMenu>(hwnd_);
  dpi_ = WindowDpi(hwnd_);
  Layout(nullptr);
  ApplySkin(SkinLook{});
}

MainWindow::~MainWindow() {
  menu_.reset();
  if (hwnd_ != nullptr && IsWindow(hwnd_)) {
    (void)DestroyWindow(hwnd_);
  }
  if (application_ != nullptr) {
    (void)DestroyWindow(application_);
  }
}

void MainWindow::CreateControls(HINSTANCE instance) {
  auto child = [&](const char* cls, const char* text, DWORD style, int id) {
    return CreateWindowExA(0, cls, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, hwnd_,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
  };
  appName_ = child("STATIC", "", SS_LEFT | SS_NOPREFIX, 0);
  link_ = child("STATIC", "SEE my IP", SS_LEFT | SS_NOTIFY | SS_NOPREFIX, kCmdSeeMyIPLink);
  ok_ = child("BUTTON", "&OK", BS_DEFPUSHBUTTON | WS_TABSTOP, kCmdAboutOK);
}

int MainWindow::Px(int units) const {
  return Scale(units, dpi_);
}

void MainWindow::Layout(const RECT* suggested) {
  const RECT frame = FrameForClient({0, 0, Px(kClientWidth), Px(kClientHeight)}, kStyle,
                                    WS_EX_DLGMODALFRAME, dpi_);
  const int left = suggested != nullptr ? suggested->left : 0;
  const int top = suggested != nullptr ? suggested->top : 0;
  (void)SetWindowPos(hwnd_, nullptr, left, top, frame.right - frame.left, frame.bottom - frame.top,
                     SWP_NOZORDER | SWP_NOACTIVATE | (suggested != nullptr ? 0 : SWP_NOMOVE));
  (void)SetWindowPos(ok_, nullptr, (Px(kClientWidth) - Px(kOkWidth)) / 2,
                     Px(kClientHeight) - Px(kOkHeight) - Px(24), Px(kOkWidth), Px(kOkHeight),
                     SWP_NOZORDER | SWP_NOACTIVATE);
  // The badge is drawn at its size on this monitor, never stretched.
  badge_.Reset(TrayImages::MakeIcon(DrawStatusImage(true, Px(kBadgeSize)), Px(kBadgeSize)));
}

void MainWindow::OnDpiChanged(UINT dpi, const RECT& suggested) {
  dpi_ = dpi;
  Layout(&suggested);
  ApplySkin(look_);
  // Keeps the label centred as the controller placed it at start, with the
  // sizes of this DPI.
  const int width = SetAppNameCaption(caption_);
  SetAppNameLeft((OuterWidth() - width) / 2);
}

void MainWindow::SetFonts() {
  (void)SendMessageA(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
  (void)SendMessageA(ok_, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
  (void)SendMessageA(appName_, WM_SETFONT, reinterpret_cast<WPARAM>(appNameFont_.Get()), FALSE);
  (void)SendMessageA(link_, WM_SETFONT, reinterpret_cast<WPARAM>(linkFont_.Get()), FALSE);
  const SIZE link = TextSize(link_, linkFont_.Get(), "SEE my IP");
  (void)SetWindowPos(link_, nullptr, (Px(kClientWidth) - link.cx) / 2, Px(kLinkTop), link.cx,
                     link.cy, SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::ApplySkin(const SkinLook& look) {
  look_ = look;
  font_.Reset(CreateSkinFont(look.font, dpi_));
  appNameFont_.Reset(CreateSkinFont(look.appNameFont, dpi_));
  linkFont_.Reset(CreateSkinFont(look.font, dpi_, true));
  background_.Reset(CreateSolidBrush(ToColorRef(look.windowColor)));
  SetFonts();
  menu_->ApplyLook(look);
  (void)InvalidateRect(hwnd_, nullptr, TRUE);
}

int MainWindow::SetAppNameCaption(const std::string& caption) {
  caption_ = caption;
  (void)SetWindowTextA(appName_, caption.c_str());
  // The label sizes itself to its text in its own font.
  const SIZE size = TextSize(appName_, appNameFont_.Get(), caption);
  (void)SetWindowPos(appName_, nullptr, 0, 0, size.cx, size.cy,
                     SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  return size.cx;
}

void MainWindow::SetAppNameLeft(int left) {
  (void)SetWindowPos(appName_, nullptr, left, Px(kAppNameTop), 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

int MainWindow::OuterWidth() {
  RECT r = {};
  (void)GetWindowRect(hwnd_, &r);
  return r.right - r.left;
}

void MainWindow::Show() {
  if (IsIconic(hwnd_)) {
    (void)ShowWindow(hwnd_, SW_RESTORE);
  }
  RECT r = {};
  (void)GetWindowRect(hwnd_, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  (void)SetWindowPos(hwnd_, HWND_TOP, (GetSystemMetrics(SM_CXSCREEN) - width) / 2,
                     (GetSystemMetrics(SM_CYSCREEN) - height) / 2, 0, 0, SWP_NOSIZE);
  (void)ShowWindow(hwnd_, SW_SHOW);
  (void)SetForegroundWindow(hwnd_);
  (void)SetFocus(ok_);
}

void MainWindow::Hide() {
  (void)ShowWindow(hwnd_, SW_HIDE);
}

void MainWindow::Close() {
  (void)PostMessageA(hwnd_, WM_CLOSE, 0, 0);
}

void MainWindow::Start(TimerId id, unsigned intervalMs) {
  // SetTimer on an existing id restarts its countdown.
  (void)SetTimer(hwnd_, TimerNumber(id), intervalMs, nullptr);
}

void MainWindow::Stop(TimerId id) {
  (void)KillTimer(hwnd_, TimerNumber(id));
}

void MainWindow::Command(int command) {
  if (controller_ != nullptr) {
    TfrmMain* main = controller_;
    main->Dispatch([main, command] { main->OnCommand(command); });
  }
}

LRESULT MainWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  TfrmMain* main = controller_;
  switch (message) {
    case WM_CLOSE:
      // Closing the main window by any means ends the program after the
      // shutdown sequence; an error in it is shown and the close goes on.
      if (!closing_) {
        closing_ = true;
        if (main != nullptr) {
          main->Dispatch([main] { main->FormClose(); });
        }
        (void)DestroyWindow(hwnd_);
      }
      return 0;
    case WM_QUERYENDSESSION:
      return main == nullptr || main->FormQueryEndSession() ? TRUE : FALSE;
    case WM_ENDSESSION:
      // The session really ends: Windows may end the process as soon as
      // this returns, so the shutdown runs here, without any dialog.
      if (wParam != FALSE && !closing_) {
        closing_ = true;
        if (main != nullptr) {
          try {
            main->FormEndSession(true);
          } catch (const std::exception&) {
            // nobody is left to tell
          }
        }
        (void)DestroyWindow(hwnd_);
      }
      return 0;
    case WM_DESTROY:
      if (main != nullptr) {
        main->Dispatch([main] { main->FormDestroy(); });
        controller_ = nullptr;
      }
      PostQuitMessage(0);
      return 0;
    case WM_COMMAND: {
      const int code = HIWORD(wParam);
      const int id = LOWORD(wParam);
      if (code == 0 || code == 1) {  // menu, accelerator, button or link click
        Command(id == IDOK || id == IDCANCEL ? kCmdAboutOK : id);
      }
      return 0;
    }
    case WM_TIMER:
      if (main != nullptr &&
          (wParam == TimerNumber(TimerId::Read) || wParam == TimerNumber(TimerId::Reset))) {
        main->OnTimer(wParam == TimerNumber(TimerId::Read) ? TimerId::Read : TimerId::Reset);
      }
      return 0;
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == SC_MINIMIZE) {
        // Minimizing hides the window into the tray instead.
        if (main != nullptr) {
          main->Dispatch([main] { main->ctiControl().Minimized(); });
        }
        return 0;
      }
      break;
    case WM_ERASEBKGND: {
      RECT r = {};
      (void)GetClientRect(hwnd_, &r);
      (void)FillRect(reinterpret_cast<HDC>(wParam), &r, static_cast<HBRUSH>(background_.Get()));
      return 1;
    }
    case WM_PAINT: {
      PAINTSTRUCT paint;
      HDC dc = BeginPaint(hwnd_, &paint);
      (void)DrawIconEx(dc, (Px(kClientWidth) - Px(kBadgeSize)) / 2, Px(kBadgeTop), badge_.Get(),
                       Px(kBadgeSize), Px(kBadgeSize), 0, nullptr, DI_NORMAL);
      (void)EndPaint(hwnd_, &paint);
      return 0;
    }
    case WM_CTLCOLORSTATIC: {
      HDC dc = reinterpret_cast<HDC>(wParam);
      const HWND control = reinterpret_cast<HWND>(lParam);
      const Rgb& color = control == appName_ ? look_.appNameColor
                         : control == link_  ? look_.linkColor
                                             : look_.textColor;
      (void)SetTextColor(dc, ToColorRef(color));
      (void)SetBkColor(dc, ToColorRef(look_.windowColor));
      return reinterpret_cast<LRESULT>(background_.Get());
    }
    case kDpiChangedMessage:
      OnDpiChanged(HIWORD(wParam), *reinterpret_cast<const RECT*>(lParam));
      return 0;
    case WM_SETCURSOR:
      if (reinterpret_cast<HWND>(wParam) == link_) {
        (void)SetCursor(LoadCursor(nullptr, IDC_HAND));
        return TRUE;
      }
      break;
    default:
      break;
  }
  return DefWindowProcA(hwnd_, message, wParam, lParam);
}

}  // namespace umbrane::win32
