#include "app/CoolTrayIcon.h"

#include <algorithm>

namespace umbrane {

namespace {

constexpr unsigned kNormalFlags = kNifMessage | kNifIcon | kNifTip;

std::string Cut(const std::string& text, std::size_t max) {
  return text.substr(0, max);
}

}  // namespace

TCoolTrayIcon::TCoolTrayIcon(INotificationArea& area, IMainForm& form, ITrayMenu* popupMenu)
    : area_(area), form_(form), popupMenu_(popupMenu) {
  UpdateRecord();
}

void TCoolTrayIcon::UpdateRecord() {
  record_.list = list_ != nullptr ? list_->id : ImageListId::None;
  record_.index = list_ != nullptr ? index_ : 0;
  record_.tip = showHint_ ? Cut(hint_, kMaxTip) : std::string();
}

void TCoolTrayIcon::Modify() {
  UpdateRecord();
  if (added_) {
    (void)area_.Modify(record_);  // the icon's display is not acted on
  }
}

void TCoolTrayIcon::SetIconList(const ImageList* list) {
  list_ = list;
  SetIconIndex(0);
}

void TCoolTrayIcon::SetIconIndex(int index) {
  index_ = list_ != nullptr ? std::clamp(index, 0, std::max(list_->count - 1, 0)) : 0;
  Modify();
}

void TCoolTrayIcon::SetCycleInterval(unsigned ms) {
  if (ms != cycleInterval_) {
    cycleInterval_ = ms;
    SetCycleIcons(cycleIcons_);
  }
}

void TCoolTrayIcon::SetCycleIcons(bool on) {
  cycleIcons_ = on;
  if (on) {
    SetIconIndex(0);
    area_.StopCycleTimer();
    if (cycleInterval_ > 0) {  // like a timer of interval 0, it does not tick
      area_.StartCycleTimer(cycleInterval_);
    }
  } else {
    area_.StopCycleTimer();
  }
}

void TCoolTrayIcon::SetHint(const std::string& hint) {
  hint_ = hint;
  Modify();
}

void TCoolTrayIcon::SetShowHint(bool show) {
  showHint_ = show;
  Modify();
}

void TCoolTrayIcon::SetIconVisible(bool visible) {
  iconVisible_ = visible;
  if (!visible && added_) {
    area_.Delete();
    added_ = false;
  }
}

bool TCoolTrayIcon::ShowBalloon(const std::string& title, const std::string& text,
                                unsigned iconKind, unsigned timeoutSeconds) {
  HideBalloon();
  record_.flags = kNormalFlags | kNifInfo;
  record_.info = Cut(text, kMaxBalloonText);
  record_.infoTitle = Cut(title, kMaxBalloonTitle);
  record_.timeoutMs = timeoutSeconds * 1000;
  record_.infoFlags = iconKind;
  UpdateRecord();
  const bool shown = area_.Modify(record_);
  record_.flags = kNormalFlags;
  return shown;
}

void TCoolTrayIcon::HideBalloon() {
  record_.flags = kNormalFlags | kNifInfo;
  record_.info.clear();
  UpdateRecord();
  (void)area_.Modify(record_);
  record_.flags = kNormalFlags;
}

void TCoolTrayIcon::ShowMainWindow() {
  form_.Show();
}

void TCoolTrayIcon::HideMainWindow() {
  form_.Hide();
}

void TCoolTrayIcon::Loaded() {
  bool showMainForm = true;
  if (OnStartup) {
    OnStartup(showMainForm);
  }
  if (!showMainForm) {
    HideMainWindow();
  }
  UpdateRecord();
  if (iconVisible_) {
    AddIcon();
  }
  SetCycleIcons(cycleIcons_);
  area_.SetVersion(0);
}

void TCoolTrayIcon::AddIcon() {
  added_ = area_.Add(record_);
  if (added_) {
    StopRetrying();
  } else if (retriesLeft_ == 0) {
    retriesLeft_ = kRetries;
    area_.StartRetryTimer(kRetryIntervalMs);
  }
}

void TCoolTrayIcon::StopRetrying() {
  if (retriesLeft_ > 0) {
    retriesLeft_ = 0;
    area_.StopRetryTimer();
  }
}

void TCoolTrayIcon::RetryTick() {
  if (added_ || !iconVisible_) {
    StopRetrying();
    return;
  }
  UpdateRecord();
  added_ = area_.Add(record_);
  if (added_) {
    StopRetrying();
    area_.SetVersion(0);
  } else if (--retriesLeft_ <= 0) {
    retriesLeft_ = 0;
    area_.StopRetryTimer();  // a minute is enough; "TaskbarCreated" still adds it later
  }
}

void TCoolTrayIcon::CycleTick() {
  if (OnCycle) {
    OnCycle();
  }
  const int last = list_ != nullptr ? list_->count - 1 : 0;
  SetIconIndex(index_ < last ? index_ + 1 : 0);
}

void TCoolTrayIcon::MouseAction(TrayMouse action) {
  switch (action) {
    case TrayMouse::LeftUp:
      if (OnClick) {
        OnClick();
      }
      if (leftPopup_ && popupMenu_ != nullptr) {
        popupMenu_->PopupAtCursor();
      }
      break;
    case TrayMouse::LeftDoubleClick:
      // The menu has no default entry, so a double click adds nothing to
      // the first click's effect.
      if (OnDblClick) {
        OnDblClick();
      }
      break;
    case TrayMouse::RightDown:
      if (popupMenu_ != nullptr) {
        popupMenu_->PopupAtCursor();
      }
      break;
    default:
      break;
  }
}

void TCoolTrayIcon::TaskbarCreated() {
  if (iconVisible_) {
    UpdateRecord();
    AddIcon();
  }
}

void TCoolTrayIcon::Minimized() {
  if (minimizeToTray_) {
    HideMainWindow();
    if (iconVisible_ && !added_) {
      AddIcon();
    }
  }
}

void TCoolTrayIcon::Destroy() {
  if (added_) {
    area_.Delete();
    added_ = false;
  }
  area_.StopCycleTimer();
  StopRetrying();
}

}  // namespace umbrane
