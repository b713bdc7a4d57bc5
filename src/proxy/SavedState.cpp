#include "proxy/SavedState.h"

#include <string_view>

#include "base/LineList.h"

namespace umbrane {

namespace {

constexpr const char* kHeader = "; Umbrane: the browsers' settings before the tunnel";

std::string Escape(const std::string& value) {
  std::string out;
  for (const char c : value) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      default:
        out += c;
    }
  }
  return out;
}

std::string Unescape(const std::string& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    if (value[i] != '\\' || i + 1 == value.size()) {
      out += value[i];
      continue;
    }
    const char next = value[++i];
    out += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
  }
  return out;
}

}  // namespace

std::optional<std::string> StateSection::Get(const std::string& key) const {
  for (const auto& [k, v] : values) {
    if (k == key) {
      return v;
    }
  }
  return std::nullopt;
}

std::vector<std::string> StateSection::All(const std::string& key) const {
  std::vector<std::string> all;
  for (const auto& [k, v] : values) {
    if (k == key) {
      all.push_back(v);
    }
  }
  return all;
}

const StateSection* SavedBrowsers::Find(const std::string& name) const {
  const auto all = FindAll(name);
  return all.empty() ? nullptr : all.front();
}

std::vector<const StateSection*> SavedBrowsers::FindAll(const std::string& name) const {
  std::vector<const StateSection*> all;
  for (const StateSection& section : sections) {
    if (section.name == name) {
      all.push_back(&section);
    }
  }
  return all;
}

std::string FormatSavedBrowsers(const SavedBrowsers& saved) {
  LineList lines;
  lines.Add(kHeader);
  for (const StateSection& section : saved.sections) {
    lines.Add("[" + section.name + "]");
    for (const auto& [key, value] : section.values) {
      lines.Add(key + "=" + Escape(value));
    }
  }
  return lines.Text();
}

std::optional<SavedBrowsers> ParseSavedBrowsers(const std::string& text) {
  // An editor that saved it as UTF-8 put a byte-order mark first.
  constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
  LineList lines;
  lines.SetText(text.rfind(kByteOrderMark, 0) == 0 ? text.substr(kByteOrderMark.size()) : text);
  if (lines.Count() == 0 || lines[0] != kHeader) {
    return std::nullopt;
  }
  SavedBrowsers saved;
  for (std::size_t i = 1; i < lines.Count(); ++i) {
    const std::string& line = lines[i];
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      saved.sections.push_back({line.substr(1, line.size() - 2), {}});
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string::npos || saved.sections.empty()) {
      continue;
    }
    saved.sections.back().Put(line.substr(0, equals), Unescape(line.substr(equals + 1)));
  }
  return saved;
}

}  // namespace umbrane
