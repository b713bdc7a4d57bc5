#include "proxy/SystemProxy.h"

#include <algorithm>

#include "base/IniValues.h"
#include "proxy/BypassList.h"

namespace umbrane {

namespace {

constexpr std::size_t kFirstCapacity = 10;
constexpr int kEnumerationTries = 4;

constexpr const char* kSection = "Connection";

// How the log names a connection.
std::string DisplayName(const std::string& connection) {
  return connection.empty() ? "LAN" : connection;
}

// The saved options of `connection`, if the state has them.
std::optional<ConnectionProxy> SavedConnection(const SavedBrowsers& state,
                                               const std::string& connection) {
  for (const StateSection* section : state.FindAll(kSection)) {
    if (section->Get("Name").value_or("") != connection) {
      continue;
    }
    ConnectionProxy saved;
    saved.flags = static_cast<unsigned>(
        ParseIniInteger(section->Get("Flags").value_or("")).value_or(kProxyTypeDirect));
    saved.proxyServer = section->Get("ProxyServer").value_or("");
    saved.bypass = section->Get("Bypass");
    saved.autoConfigUrl = section->Get("AutoConfigUrl");
    return saved;
  }
  return std::nullopt;
}

StateSection ConnectionSection(const std::string& connection, const ConnectionProxy& settings) {
  StateSection section{kSection, {}};
  section.Put("Name", connection);
  section.Put("Flags", std::to_string(settings.flags));
  section.Put("ProxyServer", settings.proxyServer);
  if (settings.bypass) {
    section.Put("Bypass", *settings.bypass);
  }
  if (settings.autoConfigUrl) {
    section.Put("AutoConfigUrl", *settings.autoConfigUrl);
  }
  return section;
}

class SystemStep final : public IBrowserStep {
 public:
  explicit SystemStep(IInternetSettings& internet) : internet_(internet) {}

  bool Save(SavedBrowsers& state) override {
    // Apply sets exactly the connections saved here, even if a dial-up
    // connection comes up in between.
    connections_ = ConnectionsToSet();
    bool added = false;
    for (const std::string& name : connections_) {
      if (SavedConnection(state, name)) {
        continue;
      }
      // A connection already on the local proxy was left so by a run that
      // ended while on: nothing of the user's to keep; restore sets it direct.
      const auto current = internet_.QueryConnection(name);
      if (current && !IsOurProxy(*current)) {
        state.sections.push_back(ConnectionSection(name, *current));
        added = true;
      }
    }
    return added;
  }

  StepResult Apply(const ProxySetting& setting, const SavedBrowsers& state) override {
    if (connections_.empty()) {
      connections_ = ConnectionsToSet();
    }
    StepResult result;
    for (const std::string& name : connections_) {
      // The user's own exceptions of this connection stay direct while on.
      const auto saved = SavedConnection(state, name);
      const std::string bypass =
          MergeBypass(setting.bypass, saved && saved->bypass ? *saved->bypass : "");
      (void)SetConnectionProxy(internet_, true, name, setting.proxy, bypass);
      // Accepted is not taken: a policy may keep the system's own settings.
      const auto current = internet_.QueryConnection(name);
      (current && IsOurProxy(*current) ? result.ours : result.kept).push_back(DisplayName(name));
    }
    return result;
  }

  bool Restore(const SavedBrowsers* state) override {
    bool restored = true;
    std::vector<std::string> saved;
    if (state) {
      // Every connection apply changed, whether or not it is active now.
      for (const StateSection* section : state->FindAll(kSection)) {
        const std::string name = section->Get("Name").value_or("");
        saved.push_back(name);
        restored =
            RestoreConnectionProxy(internet_, name, *SavedConnection(*state, name)) && restored;
      }
    }
    // And any connection left on the local proxy that apply did not save.
    std::vector<std::string> others = ConnectionsToSet();
    if (std::find(others.begin(), others.end(), "") == others.end()) {
      others.push_back("");
    }
    for (const std::string& name : others) {
      if (std::find(saved.begin(), saved.end(), name) == saved.end()) {
        (void)SetConnectionProxy(internet_, false, name, "", "");
      }
    }
    return restored;
  }

  std::vector<std::string> Ours() override {
    std::vector<std::string> ours;
    for (const std::string& name : ConnectionsToSet()) {
      const auto current = internet_.QueryConnection(name);
      if (current && IsOurProxy(*current)) {
        ours.push_back(DisplayName(name));
      }
    }
    return ours;
  }

 private:
  // The LAN when no dial-up connection is active, else every active one.
  std::vector<std::string> ConnectionsToSet() {
    std::vector<std::string> connections;
    const int count = GetDialUpConnections(internet_, connections);
    connections.resize(static_cast<std::size_t>(std::max(count, 0)));
    if (connections.empty()) {
      connections.push_back("");
    }
    return connections;
  }

  IInternetSettings& internet_;
  std::vector<std::string> connections_;
};

}  // namespace

bool IsOurProxy(const ConnectionProxy& settings) {
  return (settings.flags & kProxyTypeProxy) != 0 &&
         (settings.proxyServer == kLocalProxy ||
          settings.proxyServer == std::string("socks=") + kLocalProxy);
}

bool SetConnectionProxy(IInternetSettings& internet, bool enable, const std::string& connection,
                        const std::string& proxy, const std::string& bypass) {
  bool accepted = true;
  const auto current = enable ? std::nullopt : internet.QueryConnection(connection);
  // Restore only undoes our own setting: a proxy the user set up, or
  // settings that cannot even be read, are kept.
  if (enable || (current && IsOurProxy(*current))) {
    ConnectionProxy settings;
    settings.flags = enable ? kProxyTypeProxy : kProxyTypeDirect;
    settings.proxyServer = enable ? proxy : "socks=";
    if (!bypass.empty()) {
      settings.bypass = bypass;
    }
    accepted = internet.SetConnection(connection, settings);
  }
  internet.Refresh();
  internet.SettingsChanged();
  return accepted;
}

bool RestoreConnectionProxy(IInternetSettings& internet, const std::string& connection,
                            const ConnectionProxy& saved) {
  bool accepted = true;
  const auto current = internet.QueryConnection(connection);
  // The program changed this connection; when it cannot tell whether the
  // change is still there, the user's own values are the safe thing to write.
  if (!current || IsOurProxy(*current)) {
    accepted = internet.SetConnection(connection, saved);
  }
  internet.Refresh();
  internet.SettingsChanged();
  return accepted;
}

int GetDialUpConnections(IInternetSettings& internet, std::vector<std::string>& names) {
  std::size_t capacity = kFirstCapacity;
  for (int attempt = 0; attempt < kEnumerationTries; ++attempt) {
    DialUpEnumeration result = internet.EnumerateDialUp(capacity);
    if (result.ok) {
      names.insert(names.end(), result.names.begin(), result.names.end());
      return static_cast<int>(result.names.size());
    }
    if (!result.bufferTooSmall || result.needed <= capacity) {
      break;
    }
    // More connections than room: ask again with room for all of them (and
    // a few more, in case one connects meanwhile).
    capacity = result.needed + 2;
  }
  return 0;
}

std::unique_ptr<IBrowserStep> MakeSystemStep(const StepEnvironment& environment) {
  return std::make_unique<SystemStep>(environment.ports.internet);
}

}  // namespace umbrane
