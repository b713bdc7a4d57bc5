// Firefox follows the tunnel through a companion extension: the extension
// registers its folder under HKCU "Software\Mozilla\Firefox\Extensions"
// (value name kFirefoxExtensionId); the program writes the hand-off file
// "umbrane.tmp" there and presses Control+Shift+H in the Firefox window.
// docs/FIREFOX-EXTENSION.md describes the contract.
#pragma once

#include <memory>
#include <string>

#include "proxy/BrowserStep.h"

namespace umbrane {

inline constexpr const char* kFirefoxExtensionsKey = "Software\\Mozilla\\Firefox\\Extensions";
inline constexpr const char* kFirefoxExtensionId = "umbrane@umbrane.app";

// The five lines of the hand-off file; the bypass list (";"-separated
// patterns) in the form Firefox reads.
std::string FirefoxHandOff(bool enable, const std::string& proxy, const std::string& country,
                           const std::string& bypass);

// Writes the hand-off file and presses the hot key in Firefox's window. The
// keys are sent only when that window is really in the foreground, never to
// another program; false when Firefox runs but could not be brought there.
bool SetFirefoxExtensionProxy(BrowserPorts& ports, bool enable, const std::string& proxy,
                              const std::string& country, const std::string& bypass);

// The step: nothing to save (the extension keeps Firefox's own settings),
// the hand-off and the hot key on apply and restore; the program's own
// setting is a hand-off file that says "-1".
std::unique_ptr<IBrowserStep> MakeFirefoxStep(const StepEnvironment& environment);

}  // namespace umbrane
