// TCoolTrayIcon: the logic of the notification-area icon. It keeps the one
// record the system shows, animates it by cycling through an image list,
// shows balloons, turns mouse actions into events and the popup menu, and
// hides or shows the main window. The record and windows themselves belong
// to the notification-area adapter.
#pragma once

#include <functional>
#include <string>

#include "platform/MainForm.h"
#include "platform/NotificationArea.h"
#include "platform/TrayMenu.h"

namespace umbrane {

struct ImageList {
  ImageListId id;
  int count;
};

inline constexpr ImageList imlBusy{ImageListId::Busy, 7};
inline constexpr ImageList imlStatus{ImageListId::Status, 2};

// Mouse actions on the icon, as the adapter reports them.
enum class TrayMouse { LeftDown, LeftUp, LeftDoubleClick, RightDown, RightUp, Other };

inline constexpr std::size_t kMaxTip = 127;
inline constexpr std::size_t kMaxBalloonText = 255;
inline constexpr std::size_t kMaxBalloonTitle = 63;

class TCoolTrayIcon {
 public:
  TCoolTrayIcon(INotificationArea& area, IMainForm& form, ITrayMenu* popupMenu);

  // Properties; each change of picture or tip reaches the icon at once.
  void SetIconList(const ImageList* list);
  void SetIconIndex(int index);
  void SetCycleInterval(unsigned ms);
  void SetCycleIcons(bool on);
  void SetHint(const std::string& hint);
  void SetShowHint(bool show);
  void SetIconVisible(bool visible);
  void SetLeftPopup(bool on) { leftPopup_ = on; }
  void SetMinimizeToTray(bool on) { minimizeToTray_ = on; }

  const ImageList* IconList() const { return list_; }
  int IconIndex() const { return index_; }
  bool CycleIcons() const { return cycleIcons_; }
  unsigned CycleInterval() const { return cycleInterval_; }
  const std::string& Hint() const { return hint_; }
  bool IconVisible() const { return iconVisible_; }
  const TrayRecord& Record() const { return record_; }

  // Shows a balloon, replacing one still up; the result is the system's.
  bool ShowBalloon(const std::string& title, const std::string& text, unsigned iconKind,
                   unsigned timeoutSeconds);
  void HideBalloon();

  void ShowMainWindow();
  void HideMainWindow();

  // The owner form has finished loading: OnStartup may keep the window
  // hidden; then the icon is added.
  void Loaded();
  // A cycle-timer tick.
  void CycleTick();
  void MouseAction(TrayMouse action);
  // The shell restarted: the icon is added again when it is meant to show.
  void TaskbarCreated();
  // A tick of the retry timer: the notification area refused the icon (at
  // sign-in the shell may not be ready yet), so it is offered again, each
  // second for a minute or until it is taken.
  void RetryTick();
  static constexpr unsigned kRetryIntervalMs = 1000;
  static constexpr int kRetries = 60;
  // The main window was minimized.
  void Minimized();
  // The owner is going away: the icon is removed.
  void Destroy();

  std::function<void()> OnClick;
  std::function<void()> OnDblClick;
  std::function<void(bool& showMainForm)> OnStartup;
  std::function<void()> OnCycle;

 private:
  void UpdateRecord();
  void Modify();
  // Adds the icon; when the shell refuses, the retry timer takes over.
  void AddIcon();
  void StopRetrying();

  INotificationArea& area_;
  IMainForm& form_;
  ITrayMenu* popupMenu_;
  TrayRecord record_;
  const ImageList* list_ = nullptr;
  int index_ = 0;
  bool cycleIcons_ = false;
  unsigned cycleInterval_ = 0;
  std::string hint_;
  bool showHint_ = true;
  bool iconVisible_ = false;
  bool leftPopup_ = false;
  bool minimizeToTray_ = false;
  bool added_ = false;
  int retriesLeft_ = 0;
};

}  // namespace umbrane
