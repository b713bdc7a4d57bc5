// Small scripted fakes of the ports. Each records what it is asked, in the
// shared call log where the order across ports matters.
#pragma once

#include <algorithm>
#include <deque>
#include <functional>
#include <utility>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "CallLog.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/MainForm.h"
#include "platform/ProcessList.h"
#include "platform/Registry.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "platform/TopLevelWindows.h"
#include "proxy/BrowserSwitch.h"

namespace umbrane::fakes {

class FakeClock : public IClock {
 public:
  LocalTime now{2008, 3, 10, 9, 5, 3, 42};
  char timeSeparator = ':';
  char dateSeparator = '/';

  LocalTime Now() override { return now; }
  std::int64_t unixTime = 1'800'000'000;
  std::int64_t UnixTime() override { return unixTime; }
  char TimeSeparator() override { return timeSeparator; }
  char DateSeparator() override { return dateSeparator; }
};

class FakeSystem : public ISystem {
 public:
  OsVersion version{kPlatformWindowsNT, 5, 1, 2600};
  std::string windowsDirectory = "C:\\WINDOWS";
  std::map<int, std::string> specialFolders{
      {26, "C:\\Documents and Settings\\ann\\Application Data"}};
  std::string tempPath = "C:\\DOCUME~1\\ann\\LOCALS~1\\Temp\\";
  std::string executablePath = "C:\\Program Files\\Umbrane\\umbrane.exe";

  OsVersion Version() override { return version; }
  std::string WindowsDirectory() override { return windowsDirectory; }
  std::string SpecialFolder(int csidl) override { return specialFolders[csidl]; }
  std::string TempPath() override { return tempPath; }
  std::string ExecutablePath() override { return executablePath; }
  unsigned uiLanguage = 0x0409;
  unsigned UiLanguage() override { return uiLanguage; }
  unsigned systemLanguage = 0x0409;
  std::int32_t machineId = 123456789;
  unsigned SystemLanguage() override { return systemLanguage; }
  std::int32_t MachineId() override { return machineId; }
};

class FakeShell : public IShell {
 public:
  struct Call {
    std::string target;
    WindowId parent;
  };
  std::vector<Call> opened;

  void Open(const std::string& target, WindowId parent) override {
    opened.push_back({target, parent});
  }
};

class FakeDialogs : public IDialogs {
 public:
  explicit FakeDialogs(CallLog* log = nullptr) : log_(log) {}

  struct Box {
    std::string text;
    MessageKind kind;
    MessageButtons buttons;
  };
  std::vector<Box> boxes;
  std::vector<std::pair<std::string, std::string>> errorBoxes;  // caption, text
  std::deque<MessageAnswer> answers;                            // scripted; OK or Yes when empty

  MessageAnswer ShowMessageBox(const std::string& text, MessageKind kind,
                               MessageButtons buttons) override {
    if (log_ != nullptr) {
      log_->Add("MessageBox " + text);
    }
    boxes.push_back({text, kind, buttons});
    if (answers.empty()) {
      return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::Yes;
    }
    const MessageAnswer answer = answers.front();
    answers.pop_front();
    return answer;
  }
  // Recorded as the modal box is; a question waits until Answer.
  std::function<void(MessageAnswer)> unanswered;
  void ShowMessageBoxLater(const std::string& text, MessageKind kind, MessageButtons buttons,
                           std::function<void(MessageAnswer)> answered) override {
    if (log_ != nullptr) {
      log_->Add("MessageBox " + text);
    }
    boxes.push_back({text, kind, buttons});
    if (answered) {
      unanswered = std::move(answered);
    }
  }
  // The user answers the box left open; false when none is.
  bool Answer(MessageAnswer answer) {
    auto answered = std::exchange(unanswered, nullptr);
    if (answered) {
      answered(answer);
    }
    return answered != nullptr;
  }
  void ShowErrorBox(const std::string& caption, const std::string& text) override {
    if (log_ != nullptr) {
      log_->Add("ErrorBox " + text);
    }
    errorBoxes.emplace_back(caption, text);
  }
  struct Notice {
    SkinLook look;
    std::string caption, buttonCaption, text;
  };
  std::vector<Notice> notices;
  void ShowNotice(const SkinLook& look, const std::string& caption,
                  const std::string& buttonCaption, const std::string& text) override {
    notices.push_back({look, caption, buttonCaption, text});
  }

 private:
  CallLog* log_;
};

class FakeMainForm : public IMainForm {
 public:
  explicit FakeMainForm(CallLog* log = nullptr) : log_(log) {}

  WindowId handle = 0x1234;
  int outerWidth = 365;
  int pixelsPerChar = 13;
  std::optional<SkinLook> skin;
  std::string caption;
  int left = -1;
  int closeRequests = 0;
  bool visible = true;  // a window is visible until hidden

  WindowId Handle() override { return handle; }
  void ApplySkin(const SkinLook& look) override { skin = look; }
  int SetAppNameCaption(const std::string& text) override {
    caption = text;
    return static_cast<int>(text.size()) * pixelsPerChar;
  }
  void SetAppNameLeft(int x) override { left = x; }
  int OuterWidth() override { return outerWidth; }
  void Show() override {
    visible = true;
    if (log_ != nullptr) {
      log_->Add("ShowForm");
    }
  }
  void Hide() override {
    visible = false;
    if (log_ != nullptr) {
      log_->Add("HideForm");
    }
  }
  void Close() override {
    ++closeRequests;
    if (log_ != nullptr) {
      log_->Add("CloseForm");
    }
  }

 private:
  CallLog* log_;
};

// Records each switch; `saved` stands for the state file (set by apply,
// cleared by restore); `whileSwitching` runs inside the next switch, as
// the user's clicks do under a restart notice.
class FakeBrowserSwitch : public IBrowserSwitch {
 public:
  explicit FakeBrowserSwitch(CallLog* log = nullptr) : log_(log) {}

  bool saved = false;
  bool silent = false;
  std::function<void()> whileSwitching;
  std::function<void(const std::string&)> report;

  // What the next apply reads back, and what the watch finds changed.
  SwitchOutcome outcome;
  SwitchOutcome restoreOutcome;  // what the next restore says
  std::vector<std::string> changedOutside;

  SwitchOutcome SetBrowsersProxy(bool enable, const std::string& proxy, const std::string& country,
                                 const std::string& bypass) override {
    if (log_ != nullptr) {
      log_->Add("SetBrowsersProxy " + std::string(enable ? "on" : "off") + " [" + proxy + "][" +
                country + "][" + bypass + "]" + (silent ? " silent" : ""));
    }
    if (whileSwitching) {
      auto hook = std::exchange(whileSwitching, nullptr);
      hook();
    }
    saved = enable;
    if (!enable) {
      changedOutside.clear();
    }
    return enable ? outcome : std::exchange(restoreOutcome, SwitchOutcome{});
  }
  std::vector<std::string> ChangedOutside() override { return changedOutside; }
  bool HasSavedState() override { return saved; }
  void SetSilent(bool s) override { silent = s; }
  void SetReporter(std::function<void(const std::string&)> r) override { report = std::move(r); }

 private:
  CallLog* log_;
};

class FakeProcessList : public IProcessList {
 public:
  std::vector<std::string> names;
  std::vector<std::string> Names() override { return names; }
};

// Windows numbered 1..titles.size() in Z order.
class FakeTopLevelWindows : public ITopLevelWindows {
 public:
  std::vector<std::string> titles;
  std::vector<std::string> classes;   // by window, as titles; "" past the end
  std::vector<std::string> programs;  // the owner's program file, as classes
  std::vector<WindowId> asked;        // every window whose title was read
  WindowId foreground = 0;
  bool refuseForeground = false;  // as Windows does for a program in the background
  std::vector<KeyStroke> keys;
  WindowId keysWentTo = 0;

  bool BringToForeground(WindowId w) override {
    if (!refuseForeground) {
      foreground = w;
    }
    return foreground == w;
  }
  void SendKeys(const std::vector<KeyStroke>& k) override {
    keys.insert(keys.end(), k.begin(), k.end());
    keysWentTo = foreground;
  }

  WindowId First() override { return titles.empty() ? 0 : 1; }
  WindowId Next(WindowId w) override { return w < titles.size() ? w + 1 : 0; }
  std::string Title(WindowId w) override {
    asked.push_back(w);
    return titles.at(w - 1);
  }
  std::string ClassName(WindowId w) override { return w <= classes.size() ? classes[w - 1] : ""; }
  std::string ProgramName(WindowId w) override {
    return w <= programs.size() ? programs[w - 1] : "";
  }
  // Window `w` (from 1) is a real Firefox window.
  void MakeFirefox(WindowId w) {
    classes.resize(std::max<std::size_t>(classes.size(), w));
    programs.resize(std::max<std::size_t>(programs.size(), w));
    classes[w - 1] = "MozillaWindowClass";
    programs[w - 1] = "firefox.exe";
  }
};

class FakeRegistry : public IRegistry {
 public:
  std::map<std::string, std::string> values;         // "key|name" -> data
  std::map<std::string, std::string> machineValues;  // the same, HKEY_LOCAL_MACHINE

  std::optional<std::string> ReadUserString(const std::string& key,
                                            const std::string& name) override {
    return Find(values, key, name);
  }
  std::optional<std::string> ReadMachineString(const std::string& key,
                                               const std::string& name) override {
    return Find(machineValues, key, name);
  }

 private:
  static std::optional<std::string> Find(const std::map<std::string, std::string>& in,
                                         const std::string& key, const std::string& name) {
    const auto it = in.find(key + "|" + name);
    if (it == in.end()) {
      return std::nullopt;
    }
    return it->second;
  }
};

}  // namespace umbrane::fakes
