// The main (about) window: hidden at start, shown from the tray. It carries
// the version label, the "SEE my IP" link and the OK button, owns the tray
// menu (whose commands it receives), and hands the close and the commands
// to the controller. It is owned by a hidden application window, so it never
// has a task-bar button.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/MainForm.h"
#include "platform/Timers.h"
#include "skin/Skin.h"
#include "win32/Handle.h"
#include "win32/TrayImages.h"
#include "win32/Win32TrayMenu.h"

namespace umbrane {
class TfrmMain;
}

namespace umbrane::win32 {

inline constexpr const char* kMainWindowClass = "TfrmMain";
inline constexpr const char* kApplicationWindowClass = "UmbraneApplication";

using UniqueBrush = UniqueResource<HGDIOBJ, GdiObjectTraits>;

// It also carries the form's two timers, so their ticks arrive as its
// WM_TIMER messages.
class MainWindow final : public IMainForm, public ITimers {
 public:
  // Creates the windows, hidden. Throws std::runtime_error when it cannot.
  explicit MainWindow(HINSTANCE instance);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  ~MainWindow() override;

  // From now on the close and the commands go to `controller`.
  void Attach(TfrmMain& controller) { controller_ = &controller; }
  HWND Hwnd() const { return hwnd_; }
  Win32TrayMenu& Menu() { return *menu_; }

  WindowId Handle() override { return reinterpret_cast<WindowId>(hwnd_); }
  void ApplySkin(const SkinLook& look) override;
  int SetAppNameCaption(const std::string& caption) override;
  void SetAppNameLeft(int left) override;
  int OuterWidth() override;
  void Show() override;
  void Hide() override;
  void Close() override;

  void Start(TimerId id, unsigned intervalMs) override;
  void Stop(TimerId id) override;

  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  void CreateControls(HINSTANCE instance);
  // The window's sizes are 96-DPI units: `Px` gives them at the window's DPI.
  int Px(int units) const;
  // Sizes the window and places the button and the badge for the current
  // DPI; `suggested` (after a DPI change) says where the window goes.
  void Layout(const RECT* suggested);
  void OnDpiChanged(UINT dpi, const RECT& suggested);
  void SetFonts();
  void Command(int command);

  HWND application_ = nullptr;  // hidden owner: no task-bar button
  HWND hwnd_ = nullptr;
  HWND appName_ = nullptr;  // lblAppName; children go with the window
  HWND link_ = nullptr;
  HWND ok_ = nullptr;
  SkinLook look_;
  UINT dpi_ = 96;
  std::string caption_;  // the label's text
  UniqueFont font_;
  UniqueFont appNameFont_;
  UniqueFont linkFont_;
  UniqueBrush background_;
  UniqueIcon badge_;  // the product's badge above its name
  std::unique_ptr<Win32TrayMenu> menu_;
  TfrmMain* controller_ = nullptr;
  bool closing_ = false;
};

}  // namespace umbrane::win32
