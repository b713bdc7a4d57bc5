#include "proxy/BrowserSwitch.h"

#include <algorithm>

#include "proxy/BrowserPolicies.h"
#include "proxy/FirefoxProxy.h"
#include "proxy/NetscapeProxy.h"
#include "proxy/OperaProxy.h"
#include "proxy/SystemProxy.h"

namespace umbrane {

namespace {

// The stand-in for the dialogs while the switch must be silent.
class SilentDialogs final : public IDialogs {
 public:
  MessageAnswer ShowMessageBox(const std::string&, MessageKind, MessageButtons buttons) override {
    return buttons == MessageButtons::Ok ? MessageAnswer::Ok : MessageAnswer::No;
  }
  void ShowMessageBoxLater(const std::string&, MessageKind, MessageButtons,
                           std::function<void(MessageAnswer)>) override {}
  void ShowErrorBox(const std::string&, const std::string&) override {}
  void ShowNotice(const SkinLook&, const std::string&, const std::string&,
                  const std::string&) override {}
};

SilentDialogs silentDialogs;

// Written by earlier versions while on; it said only that a restore was due.
constexpr const char* kOldMarkerName = "proxy.on";

}  // namespace

SwitchOutcome BrowserSwitch::SetBrowsersProxy(bool enable, const std::string& proxy,
                                              const std::string& country,
                                              const std::string& bypass) {
  if (enable) {
    return Apply({proxy, country, bypass});
  }
  SwitchOutcome outcome;
  outcome.unreadableState = Restore();
  return outcome;
}

std::vector<std::string> BrowserSwitch::Ours(BrowserPorts& ports) {
  std::vector<std::string> ours;
  for (auto& step : Steps(ports)) {
    for (std::string& name : step->Ours()) {
      ours.push_back(std::move(name));
    }
  }
  return ours;
}

std::vector<std::string> BrowserSwitch::ChangedOutside() {
  if (ownedAfterApply_.empty()) {
    return {};
  }
  BrowserPorts ports = Ports();
  const std::vector<std::string> now = Ours(ports);
  std::vector<std::string> changed;
  for (const std::string& name : ownedAfterApply_) {
    if (std::find(now.begin(), now.end(), name) == now.end()) {
      changed.push_back(name);
    }
  }
  return changed;
}

BrowserPorts BrowserSwitch::Ports() {
  if (!silent_) {
    return ports_;
  }
  return {ports_.internet,  ports_.files,   ports_.profile,  ports_.system,
          ports_.processes, ports_.windows, ports_.registry, silentDialogs};
}

bool BrowserSwitch::StateFileUsable() const {
  // Before the data folder exists (a start-up that failed) there is none.
  return !context_.dataPath.empty() && context_.dataPath.back() == '\\';
}

std::string BrowserSwitch::StatePath() const {
  return context_.dataPath + kStateFileName;
}

std::vector<std::unique_ptr<IBrowserStep>> BrowserSwitch::Steps(BrowserPorts& ports) {
  return MakeBrowserSteps({ports, context_, [this](const std::string& note) { Note(note); }});
}

void BrowserSwitch::Note(const std::string& message) {
  if (report_) {
    report_(message);
  }
}

bool BrowserSwitch::HasSavedState() {
  return saved_ ||
         (StateFileUsable() && (ports_.files.FileExists(StatePath()) ||
                                ports_.files.FileExists(context_.dataPath + kOldMarkerName)));
}

std::optional<SavedBrowsers> BrowserSwitch::LoadState() {
  if (saved_) {
    return saved_;
  }
  if (!StateFileUsable()) {
    return std::nullopt;
  }
  if (!ports_.files.FileExists(StatePath())) {
    return std::nullopt;
  }
  const auto text = ports_.files.ReadFile(StatePath());
  auto parsed = text ? ParseSavedBrowsers(*text) : std::nullopt;
  if (!parsed) {
    SetAsideUnreadable();
  }
  return parsed;
}

void BrowserSwitch::SetAsideUnreadable() {
  // Never over an earlier one: each may hold the only copy of the user's.
  const std::string base = StatePath() + ".unreadable";
  std::string aside = base;
  for (int n = 2; ports_.files.FileExists(aside) && n < 100; ++n) {
    aside = base + "-" + std::to_string(n);
  }
  unreadable_ =
      "The browsers' settings saved before the tunnel can not be read; nothing was set back";
  keptInPlace_ = !ports_.files.RenameFile(StatePath(), aside);
  unreadable_ += keptInPlace_ ? ". The file is kept as it is" : ". The file is kept as " + aside;
  Note(unreadable_);
}

void BrowserSwitch::SaveBeforeApply(IFileSystem& files,
                                    std::vector<std::unique_ptr<IBrowserStep>>& steps) {
  // A second apply keeps what the first one saved: by then the browsers
  // hold the program's settings, not the user's. Only what is not saved
  // yet is added (a dial-up connection that came up meanwhile).
  if (!saved_) {
    unreadable_.clear();
    keptInPlace_ = false;
    saved_ = LoadState();
  }
  if (!saved_) {
    saved_ = SavedBrowsers{};
  }
  bool changed = false;
  for (auto& step : steps) {
    changed = step->Save(*saved_) || changed;
  }
  if (!StateFileUsable()) {
    return;
  }
  std::string error;
  if (changed && keptInPlace_) {
    // It could not be moved aside: it is kept, never written over.
    Note("Can not save the browsers' settings: " + StatePath() + " can not be read");
  } else if (changed &&
             !files.ReplaceFileSafely(StatePath(), FormatSavedBrowsers(*saved_), error)) {
    // This run still gives everything back; only a crash would lose it.
    Note("Can not save the browsers' settings: " + error);
  }
  // Also on a second apply: a guard that was ended meanwhile comes back.
  if (stateSaved_ && files.FileExists(StatePath())) {
    if (const std::string why = stateSaved_(); !why.empty()) {
      Note("Can not start the guard: " + why);
    }
  }
}

SwitchOutcome BrowserSwitch::Apply(const ProxySetting& setting) {
  BrowserPorts ports = Ports();
  auto steps = Steps(ports);
  SaveBeforeApply(ports.files, steps);
  const SavedBrowsers state = *saved_;
  SwitchOutcome outcome;
  ownedAfterApply_.clear();
  for (auto& step : steps) {
    const StepResult result = step->Apply(setting, state);
    ownedAfterApply_.insert(ownedAfterApply_.end(), result.ours.begin(), result.ours.end());
    outcome.kept.insert(outcome.kept.end(), result.kept.begin(), result.kept.end());
    outcome.notWritten.insert(outcome.notWritten.end(), result.notWritten.begin(),
                              result.notWritten.end());
  }
  outcome.byPolicy = BrowsersProxiedByPolicy(ports.registry);
  if (!webRtcTold_) {
    outcome.webRtc = BrowsersRevealingByWebRtc(ports.registry);
    webRtcTold_ = true;
  }
  return outcome;
}

std::string BrowserSwitch::Restore() {
  BrowserPorts ports = Ports();
  // What the browsers hold is not given back on a guess (setting them
  // direct would drop a proxy the user needs): the user is told once, and
  // until the next apply saves afresh every restore leaves them alone.
  const bool toldAlready = !saved_ && !unreadable_.empty();
  const std::optional<SavedBrowsers> state = toldAlready ? std::nullopt : LoadState();
  if (!state && !unreadable_.empty()) {
    ownedAfterApply_.clear();
    return toldAlready ? std::string() : unreadable_;
  }
  bool restored = true;
  for (auto& step : Steps(ports)) {
    restored = step->Restore(state ? &*state : nullptr) && restored;
  }
  ownedAfterApply_.clear();
  if (restored) {
    saved_.reset();
    if (StateFileUsable() && !keptInPlace_) {
      (void)ports.files.RemoveFile(StatePath());
      (void)ports.files.RemoveFile(context_.dataPath + kOldMarkerName);
    }
  } else {
    // Kept, file and all: the next restore (at the latest the next start)
    // tries again, and the ownership rule keeps it from undoing the user's.
    saved_ = state;
  }
  return {};
}

std::vector<std::unique_ptr<IBrowserStep>> MakeBrowserSteps(const StepEnvironment& environment) {
  std::vector<std::unique_ptr<IBrowserStep>> steps;
  steps.push_back(MakeSystemStep(environment));
  steps.push_back(MakeFirefoxStep(environment));
  steps.push_back(MakeOperaStep(environment));
  steps.push_back(MakeNetscapeStep(environment));
  return steps;
}

}  // namespace umbrane
