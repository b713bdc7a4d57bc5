// Port: one icon in the notification area, and the component's cycle timer.
// The record is the portable content of the system's notification record;
// the adapter turns it into the real one and owns the icons and windows.
#pragma once

#include <string>

namespace umbrane {

// Flags of the record, with the system's values.
constexpr unsigned kNifMessage = 0x01;
constexpr unsigned kNifIcon = 0x02;
constexpr unsigned kNifTip = 0x04;
constexpr unsigned kNifInfo = 0x10;

// The image lists the program draws; the adapter owns their pictures.
enum class ImageListId { None, Busy, Status };

struct TrayRecord {
  unsigned flags = kNifMessage | kNifIcon | kNifTip;
  ImageListId list = ImageListId::None;  // None: the single start icon
  int index = 0;
  std::string tip;        // at most 127 characters
  std::string info;       // balloon text, at most 255 characters
  std::string infoTitle;  // balloon title, at most 63 characters
  unsigned timeoutMs = 0;
  unsigned infoFlags = 0;  // balloon icon: 0 none, 1 info, 2 warning, 3 error, 4 user
};

class INotificationArea {
 public:
  virtual ~INotificationArea() = default;

  virtual bool Add(const TrayRecord& record) = 0;
  virtual bool Modify(const TrayRecord& record) = 0;
  virtual void Delete() = 0;
  virtual void SetVersion(unsigned version) = 0;
  // The component's window-message timer; each tick comes back as a call of
  // the tray's cycle handler between other messages.
  virtual void StartCycleTimer(unsigned intervalMs) = 0;
  virtual void StopCycleTimer() = 0;
  // A second timer for adding the icon again when the shell was not ready;
  // each tick comes back as a call of the tray's retry handler.
  virtual void StartRetryTimer(unsigned intervalMs) = 0;
  virtual void StopRetryTimer() = 0;
};

}  // namespace umbrane
