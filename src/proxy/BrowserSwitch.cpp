#include "proxy/BrowserSwitch.h"

#include <algorithm>

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
  void ShowErrorBox(const std::string&, const std::string&) override {}
  void ShowNotice(const SkinLook&, const std::string&, const std::string&,
                  const std::string&) override {}
};

SilentDialogs silentDialogs;

constexpr const char* kFirefoxNotInFront =
    "Firefox could not be brought to the front: its proxy keys were not sent";

// Written by earlier versions while on; it said only that a restore was due.
constexpr const char* kOldMarkerName = "proxy.on";

}  // namespace

void BrowserSwitch::SetBrowsersProxy(bool enable, const std::string& proxy,
                                     const std::string& country, const std::string& bypass) {
  if (enable) {
    Apply(proxy, country, bypass);
  } else {
    Restore();
  }
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
  const auto text = ports_.files.ReadFile(StatePath());
  return text ? ParseSavedBrowsers(*text) : std::nullopt;
}

std::vector<std::string> BrowserSwitch::ConnectionsToSet() {
  std::vector<std::string> connections;
  const int count = GetDialUpConnections(ports_.internet, connections);
  connections.resize(static_cast<std::size_t>(std::max(count, 0)));
  if (connections.empty()) {
    connections.push_back("");  // the LAN
  }
  return connections;
}

void BrowserSwitch::SaveBeforeApply(BrowserPorts& ports,
                                    const std::vector<std::string>& connections) {
  // A second apply keeps what the first one saved: by then the browsers
  // hold the program's settings, not the user's.
  bool changed = false;
  if (!saved_) {
    saved_ = LoadState();
  }
  if (!saved_) {
    saved_ = SavedBrowsers{};
    saved_->netscapeLines = SaveNetscapeProxy(ports);
    saved_->operaUrl = SaveOperaProxy(ports);
    changed = true;
  }
  for (const std::string& name : connections) {
    if (saved_->Find(name) != nullptr) {
      continue;
    }
    // A connection that already points at the local proxy was left so by a
    // run that ended while on: there is nothing of the user's to keep, and
    // the restore sets it direct.
    const auto current = ports.internet.QueryConnection(name);
    if (current && !IsOurProxy(*current)) {
      saved_->connections.push_back({name, *current});
      changed = true;
    }
  }
  if (!StateFileUsable()) {
    return;
  }
  std::string error;
  if (changed && !ports.files.ReplaceFileSafely(StatePath(), FormatSavedBrowsers(*saved_), error)) {
    // This run still gives everything back; only a crash would lose it.
    Note("Can not save the browsers' settings: " + error);
  }
  // Also on a second apply: a guard that was ended meanwhile comes back.
  if (stateSaved_ && ports.files.FileExists(StatePath())) {
    if (const std::string why = stateSaved_(); !why.empty()) {
      Note("Can not start the guard: " + why);
    }
  }
}

void BrowserSwitch::Apply(const std::string& proxy, const std::string& country,
                          const std::string& bypass) {
  BrowserPorts ports = Ports();
  ++applying_;
  applyEnded_ = false;
  const std::vector<std::string> connections = ConnectionsToSet();
  SaveBeforeApply(ports, connections);
  for (const std::string& name : connections) {
    (void)SetConnectionProxy(ports.internet, true, name, proxy, bypass);
  }
  // The Opera and Netscape steps may show a modal notice; a restore that
  // runs under it (Windows ending the session) ends this apply.
  if (!SetFirefoxExtensionProxy(ports, true, proxy, country, bypass)) {
    Note(kFirefoxNotInFront);
  }
  if (!applyEnded_) {
    SetOperaProxy(ports, context_, true, proxy);
  }
  if (!applyEnded_) {
    SetNetscapeProxy(ports, context_, true, proxy, bypass);
  }
  --applying_;
}

void BrowserSwitch::Restore() {
  BrowserPorts ports = Ports();
  const std::optional<SavedBrowsers> state = LoadState();
  bool restored = true;
  if (state) {
    // Every connection apply changed, whether or not it is active now.
    for (const SavedConnection& saved : state->connections) {
      restored = RestoreConnectionProxy(ports.internet, saved.name, saved.settings) && restored;
    }
  }
  // And any connection left on the local proxy that apply did not save.
  std::vector<std::string> others = ConnectionsToSet();
  if (std::find(others.begin(), others.end(), "") == others.end()) {
    others.push_back("");
  }
  for (const std::string& name : others) {
    if (!state || state->Find(name) == nullptr) {
      (void)SetConnectionProxy(ports.internet, false, name, "", "");
    }
  }
  if (!SetFirefoxExtensionProxy(ports, false, "", "", "")) {
    Note(kFirefoxNotInFront);
  }
  restored = RestoreOperaProxy(ports, context_, state ? state->operaUrl : std::nullopt) && restored;
  restored = RestoreNetscapeProxy(ports, context_, state ? state->netscapeLines : std::nullopt) &&
             restored;
  if (restored) {
    saved_.reset();
    if (StateFileUsable()) {
      (void)ports.files.RemoveFile(StatePath());
      (void)ports.files.RemoveFile(context_.dataPath + kOldMarkerName);
    }
  } else {
    // Kept, file and all: the next restore (at the latest the next start)
    // tries again, and the ownership rule keeps it from undoing the user's.
    saved_ = state;
  }
  if (applying_ > 0) {
    applyEnded_ = true;
  }
}

}  // namespace umbrane
