// Fakes of the notification area and the tray menu: they record every call
// with the record as it was at that moment.
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "CallLog.h"
#include "platform/NotificationArea.h"
#include "platform/TrayMenu.h"

namespace umbrane::fakes {

class FakeNotificationArea : public INotificationArea {
 public:
  explicit FakeNotificationArea(CallLog* log = nullptr) : log_(log) {}

  struct Call {
    std::string what;  // Add, Modify, Delete, SetVersion, StartTimer, StopTimer
    TrayRecord record;
    unsigned value = 0;
  };
  std::vector<Call> calls;
  bool modifyResult = true;
  bool timerRunning = false;
  unsigned timerInterval = 0;
  int added = 0;  // icons currently shown

  std::vector<Call> Named(const std::string& what) const {
    std::vector<Call> found;
    for (const Call& c : calls) {
      if (c.what == what) {
        found.push_back(c);
      }
    }
    return found;
  }

  std::deque<bool> addAnswers;  // scripted answers to Add; yes when empty
  bool retryTimerRunning = false;
  unsigned retryInterval = 0;

  bool Add(const TrayRecord& r) override {
    Record("Add", r);
    bool taken = true;
    if (!addAnswers.empty()) {
      taken = addAnswers.front();
      addAnswers.pop_front();
    }
    added += taken ? 1 : 0;
    return taken;
  }
  void StartRetryTimer(unsigned ms) override {
    Record("StartRetryTimer", {}, ms);
    retryTimerRunning = true;
    retryInterval = ms;
  }
  void StopRetryTimer() override {
    Record("StopRetryTimer", {});
    retryTimerRunning = false;
  }
  // Where each balloon shown goes as "Status <text>", so that a test can see
  // the status change in order with the other effects.
  CallLog* statusLog = nullptr;

  bool Modify(const TrayRecord& r) override {
    Record("Modify", r);
    if (statusLog != nullptr && (r.flags & kNifInfo) != 0 && !r.info.empty()) {
      statusLog->Add("Status " + r.info);
    }
    return modifyResult;
  }
  void Delete() override {
    Record("Delete", {});
    --added;
  }
  void SetVersion(unsigned version) override { Record("SetVersion", {}, version); }
  void StartCycleTimer(unsigned ms) override {
    Record("StartTimer", {}, ms);
    timerRunning = true;
    timerInterval = ms;
  }
  void StopCycleTimer() override {
    Record("StopTimer", {});
    timerRunning = false;
  }

 private:
  void Record(const std::string& what, const TrayRecord& r, unsigned value = 0) {
    calls.push_back({what, r, value});
    if (log_ != nullptr) {
      log_->Add("Tray" + what);
    }
  }
  CallLog* log_;
};

class FakeTrayMenu : public ITrayMenu {
 public:
  std::map<int, bool> enabled;
  int popups = 0;

  void SetEnabled(int command, bool on) override { enabled[command] = on; }
  bool Enabled(int command) override { return enabled.at(command); }
  void PopupAtCursor() override { ++popups; }
};

}  // namespace umbrane::fakes
