// The notification-area port: one icon through Shell_NotifyIconA, owned by a
// hidden message window that also receives the icon's mouse messages, the
// cycle timer and the shell's "TaskbarCreated" broadcast. The pictures are
// drawn at the system's small-icon size for the DPI of the primary monitor
// (where the task bar is), and drawn again when that size changes.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <memory>

#include "platform/NotificationArea.h"
#include "win32/TrayImages.h"

namespace umbrane {
class TfrmMain;
}

namespace umbrane::win32 {

inline constexpr UINT kTrayCallbackMessage = WM_USER + 1024;
inline constexpr const char* kTrayWindowClass = "UmbraneTrayWindow";

class Win32NotificationArea final : public INotificationArea {
 public:
  explicit Win32NotificationArea(HINSTANCE instance);
  Win32NotificationArea(const Win32NotificationArea&) = delete;
  Win32NotificationArea& operator=(const Win32NotificationArea&) = delete;
  ~Win32NotificationArea() override;

  // From now on the icon's events go to `controller`.
  void Attach(TfrmMain* controller) { controller_ = controller; }
  HWND Hwnd() const { return hwnd_; }
  // The size the icon's pictures are drawn at.
  int IconSize() const { return images_->Size(); }

  bool Add(const TrayRecord& record) override;
  bool Modify(const TrayRecord& record) override;
  void Delete() override;
  void SetVersion(unsigned version) override;
  void StartCycleTimer(unsigned intervalMs) override;
  void StopCycleTimer() override;
  void StartRetryTimer(unsigned intervalMs) override;
  void StopRetryTimer() override;

  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

 private:
  bool Send(DWORD action, const TrayRecord& record);
  // Draws the pictures again when the small-icon size has changed, and
  // shows the icon's picture at the new size.
  void RefreshImages();

  HWND hwnd_ = nullptr;
  UINT taskbarCreated_ = 0;
  std::unique_ptr<TrayImages> images_;
  ImageListId list_ = ImageListId::None;  // what the icon shows
  int index_ = 0;
  bool shown_ = false;
  NOTIFYICONDATAA data_{};
  TfrmMain* controller_ = nullptr;
};

}  // namespace umbrane::win32
