// One browser's part of the switch. Each browser (the system settings,
// Firefox, Opera, Netscape) keeps all of its rules in its own file behind
// this interface: what it saves before the first switch, how it points the
// browser at the tunnel, how it gives the saved settings back, and how it
// recognises its own setting. The switch only walks the steps in order.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "proxy/BrowserPorts.h"
#include "proxy/SavedState.h"

namespace umbrane {

// What apply points the browsers at.
struct ProxySetting {
  std::string proxy;    // "host:port" of the local proxy
  std::string country;  // the relay's location label (Firefox's extension shows it)
  std::string bypass;   // hosts that skip the proxy, ";"-separated patterns
};

// What an apply read back: the settings that are the program's own now
// (named as by Ours), and those that did not take.
struct StepResult {
  std::vector<std::string> ours;
  std::vector<std::string> kept;        // connections ("LAN" or a name) the system kept
  std::vector<std::string> notWritten;  // browsers whose files could not be written
};

// What every step is given: the ports (silent ones while Windows ends the
// session), the program's folders, and where notes for the log go.
struct StepEnvironment {
  BrowserPorts& ports;
  const BrowserContext& context;
  std::function<void(const std::string&)> note;
};

class IBrowserStep {
 public:
  virtual ~IBrowserStep() = default;

  // Adds what the browser holds now to `state`, unless the state has it
  // already (then it is the user's, and what the browser holds now may be
  // the program's). A setting that is already the program's own (left by a
  // run that ended while on) saves nothing of it. True when it added to the
  // state.
  virtual bool Save(SavedBrowsers& state) = 0;
  // Points the browser at the local proxy (`state` is what was saved), then
  // reads it back.
  virtual StepResult Apply(const ProxySetting& setting, const SavedBrowsers& state) = 0;
  // Gives back what `state` holds (without a state: a direct connection)
  // wherever the current setting is still the program's own, so what the
  // user changed meanwhile stays. False when something that needed giving
  // back could not be read or written; the state is then kept for a later
  // try.
  virtual bool Restore(const SavedBrowsers* state) = 0;
  // The settings of this browser that are the program's own now, in the
  // form this version writes or the one earlier versions wrote: "LAN" or a
  // dial-up connection's name for the system, the browser's name for the
  // others. Empty when none is.
  virtual std::vector<std::string> Ours() = 0;
};

// The steps in the order the switch walks them: the system settings, then
// Firefox, Opera and Netscape.
std::vector<std::unique_ptr<IBrowserStep>> MakeBrowserSteps(const StepEnvironment& environment);

}  // namespace umbrane
