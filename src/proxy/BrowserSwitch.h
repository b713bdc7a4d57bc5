// The one entry point through which the rest of the program changes browser
// settings: apply points every supported browser at the local proxy, restore
// gives every one back what it had before.
//
// Apply first saves what each browser held (the state file "proxy.state" in
// the data folder, written whole or not at all); restore puts the saved
// values back wherever the current setting is still the program's own, so
// what the user changed meanwhile is kept, and removes the file. A start
// that finds the file restores from it. One that cannot be read is moved
// aside ("proxy.state.unreadable") and nothing is given back on a guess:
// the restore says why, for the user.
//
// The controller holds it through this interface so that its own tests can
// see when, and in which order with its other effects, the browsers are
// switched; the browser steps themselves are tested on their own.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "proxy/BrowserStep.h"
#include "proxy/SavedState.h"

namespace umbrane {

// What an apply read back; of a restore, only `unreadableState`.
struct SwitchOutcome {
  // Connections ("LAN" or a dial-up connection's name) on which the system
  // kept its own settings (a proxy fixed by policy, say): the browsers that
  // follow them do not use the tunnel.
  std::vector<std::string> kept;
  // Browsers whose files could not be written.
  std::vector<std::string> notWritten;
  // Browsers whose proxy an administrator's policy sets, each with why
  // (BrowserPolicies.h): they do not use the tunnel, and nothing the
  // program writes changes that.
  std::vector<std::string> byPolicy;
  // Browsers whose WebRTC can still reveal the user's address
  // (BrowserPolicies.h): told with the first apply of a run only.
  std::vector<std::string> webRtc;
  // A restore that found the saved settings unreadable: why, for the
  // user. The file was moved aside and nothing was given back.
  std::string unreadableState;
  bool AllTook() const { return kept.empty() && notWritten.empty(); }
};

class IBrowserSwitch {
 public:
  virtual ~IBrowserSwitch() = default;

  virtual SwitchOutcome SetBrowsersProxy(bool enable, const std::string& proxy,
                                         const std::string& country, const std::string& bypass) = 0;
  // The settings the last apply made the program's own that no longer are
  // (changed outside the program), by the names of SwitchOutcome; empty
  // when none, or when no apply is in force. It only reads.
  virtual std::vector<std::string> ChangedOutside() = 0;
  // True when the browsers' earlier settings are saved, so that a restore
  // is due: this run switched them, or an earlier one ended while on.
  virtual bool HasSavedState() = 0;
  // While silent no restart notice is shown (Windows is ending the session
  // and no dialog may wait for the user).
  virtual void SetSilent(bool silent) = 0;
  // Where the switch writes what the user should find in the activity log.
  virtual void SetReporter(std::function<void(const std::string&)> report) = 0;
};

// The production switch: it walks the browser steps (the system settings
// of the LAN or of every active dial-up connection, then Firefox, Opera and
// Netscape), each whether or not the earlier ones found their browser, and
// keeps the saved state: in memory and in the state file.
class BrowserSwitch final : public IBrowserSwitch {
 public:
  BrowserSwitch(BrowserPorts ports, BrowserContext context) : ports_(ports), context_(context) {}

  SwitchOutcome SetBrowsersProxy(bool enable, const std::string& proxy, const std::string& country,
                                 const std::string& bypass) override;
  std::vector<std::string> ChangedOutside() override;
  bool HasSavedState() override;
  void SetSilent(bool silent) override { silent_ = silent; }
  void SetReporter(std::function<void(const std::string&)> report) override {
    report_ = std::move(report);
  }
  // Called after an apply has the state file in place, before the first
  // browser is switched: the program starts its guard there. It answers
  // why it could not, or nothing.
  void SetStateSaved(std::function<std::string()> saved) { stateSaved_ = std::move(saved); }

 private:
  SwitchOutcome Apply(const ProxySetting& setting);
  std::vector<std::string> Ours(BrowserPorts& ports);
  // Why nothing was given back, or nothing.
  std::string Restore();
  void SetAsideUnreadable();
  void SaveBeforeApply(IFileSystem& files, std::vector<std::unique_ptr<IBrowserStep>>& steps);
  std::optional<SavedBrowsers> LoadState();
  BrowserPorts Ports();
  std::vector<std::unique_ptr<IBrowserStep>> Steps(BrowserPorts& ports);
  bool StateFileUsable() const;
  std::string StatePath() const;
  void Note(const std::string& message);

  BrowserPorts ports_;
  BrowserContext context_;
  std::optional<SavedBrowsers> saved_;
  std::function<void(const std::string&)> report_;
  std::function<std::string()> stateSaved_;
  bool silent_ = false;
  bool webRtcTold_ = false;                   // the WebRTC notes went with an earlier apply
  std::vector<std::string> ownedAfterApply_;  // what the last apply made the program's
  std::string unreadable_;    // the state file of the last load could not be read: why
  bool keptInPlace_ = false;  // and it could not be moved aside
};

}  // namespace umbrane
