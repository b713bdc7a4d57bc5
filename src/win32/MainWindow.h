// The main (about) window: hidden at start, it carries the version label and
// receives the close and the menu commands, which it hands to the controller.
#pragma once

#include <windows.h>

#include <string>

#include "platform/MainForm.h"
#include "win32/Handle.h"

namespace umbrane {
class TfrmMain;
}

namespace umbrane::win32 {

inline constexpr const char* kMainWindowClass = "TfrmMain";

class MainWindow final : public IMainForm {
 public:
  // Creates the window, hidden. Throws std::runtime_error when it cannot.
  explicit MainWindow(HINSTANCE instance);
  MainWindow(const MainWindow&) = delete;
  MainWindow& operator=(const MainWindow&) = delete;
  ~MainWindow() override;

  // From now on the close and the commands go to `controller`.
  void Attach(TfrmMain& controller) { controller_ = &controller; }

  WindowId Handle() override { return reinterpret_cast<WindowId>(hwnd_); }
  void ApplySkin(const std::string& skinFile) override { skinFile_ = skinFile; }
  int SetAppNameCaption(const std::string& caption) override;
  void SetAppNameLeft(int left) override;
  int OuterWidth() override;
  void Close() override;

 private:
  static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

  HWND hwnd_ = nullptr;
  HWND appName_ = nullptr;  // lblAppName, a child destroyed with the window
  UniqueFont formFont_;
  UniqueFont appNameFont_;
  std::string skinFile_;  // the look follows this file once skins are drawn
  TfrmMain* controller_ = nullptr;
};

}  // namespace umbrane::win32
