// What the browsers held before the program first switched them to the
// tunnel, so that the restore can give the user's own settings back.
//
// It is written to "proxy.state" in the data folder before the first
// browser is touched, and removed once everything has been given back. A
// run that ends while the browsers are on the tunnel (a crash, a kill)
// leaves it behind, and the next start restores from it.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/InternetSettings.h"

namespace umbrane {

inline constexpr const char* kStateFileName = "proxy.state";

struct SavedConnection {
  std::string name;  // "" is the LAN
  ConnectionProxy settings;
  bool operator==(const SavedConnection&) const = default;
};

struct SavedBrowsers {
  // Every connection apply changed, with its options as they were.
  std::vector<SavedConnection> connections;
  // Netscape's proxy lines of user.js as they were; nothing when there was
  // no user.js to read.
  std::optional<std::vector<std::string>> netscapeLines;
  // Opera's automatic configuration address as it was; nothing when Opera
  // was not installed.
  std::optional<std::string> operaUrl;
  bool operator==(const SavedBrowsers&) const = default;

  const SavedConnection* Find(const std::string& connection) const;
};

// The state file's text: an INI-like list of sections, each value escaped
// so that any text (quotes, "=", line ends) survives the round trip.
std::string FormatSavedBrowsers(const SavedBrowsers& saved);
// Nothing when `text` is not a state file.
std::optional<SavedBrowsers> ParseSavedBrowsers(const std::string& text);

}  // namespace umbrane
