// Opera follows the tunnel through a proxy auto-configuration file of the
// program's ("umbrane.pac" in the user's data folder), which Opera's
// settings are pointed at once.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "proxy/BrowserStep.h"

namespace umbrane {

std::string GetOperaIniPath(ISystem& system);

// The PAC file's content: the proxy rule, or nothing.
std::string OperaPac(bool enable, const std::string& proxy);

// Opera's automatic configuration address as it is now, to be saved before
// apply; nothing when Opera is not installed.
std::optional<std::string> SaveOperaProxy(BrowserPorts& ports);

void SetOperaProxy(BrowserPorts& ports, const BrowserContext& context, bool enable,
                   const std::string& proxy);

// Empties the PAC file, and gives Opera's key back its saved address when
// that was one of the user's and the key still points at the program's PAC
// file. Without a saved address the key is not touched. False when
// something needed giving back and could not be written.
bool RestoreOperaProxy(BrowserPorts& ports, const BrowserContext& context,
                       const std::optional<std::string>& saved);

// The step: saves Opera's address once ("Opera" section, "Url"); the
// program's own setting is a key that names "umbrane".
std::unique_ptr<IBrowserStep> MakeOperaStep(const StepEnvironment& environment);

}  // namespace umbrane
