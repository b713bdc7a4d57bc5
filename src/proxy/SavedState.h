// What the browsers held before the program first switched them to the
// tunnel, so that the restore can give the user's own settings back.
//
// It is written to "proxy.state" in the data folder before the first
// browser is touched, and removed once everything has been given back. A
// run that ends while the browsers are on the tunnel (a crash, a kill)
// leaves it behind, and the next start restores from it.
//
// The file is a list of sections, each a name and its values in order; a
// browser step writes and reads its own sections ("Connection", "Netscape",
// "Opera") and nothing here knows what they mean, so a new browser adds a
// section without touching this file. Files of earlier versions read the same.
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace umbrane {

inline constexpr const char* kStateFileName = "proxy.state";

struct StateSection {
  std::string name;
  std::vector<std::pair<std::string, std::string>> values;  // in their order; a key may repeat
  bool operator==(const StateSection&) const = default;

  void Put(const std::string& key, const std::string& value) { values.emplace_back(key, value); }
  // The first value of `key`.
  std::optional<std::string> Get(const std::string& key) const;
  // Every value of `key`, in order.
  std::vector<std::string> All(const std::string& key) const;
};

struct SavedBrowsers {
  std::vector<StateSection> sections;
  bool operator==(const SavedBrowsers&) const = default;

  // The first section called `name`, or none.
  const StateSection* Find(const std::string& name) const;
  // Every section called `name`, in order.
  std::vector<const StateSection*> FindAll(const std::string& name) const;
};

// The state file's text: a header, then "[Name]" lines with "Key=value"
// lines under them, each value escaped so that any text (quotes, "=", line
// ends) survives the round trip.
std::string FormatSavedBrowsers(const SavedBrowsers& saved);
// Nothing when `text` is not a state file.
std::optional<SavedBrowsers> ParseSavedBrowsers(const std::string& text);

}  // namespace umbrane
