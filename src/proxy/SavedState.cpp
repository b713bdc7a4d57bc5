#include "proxy/SavedState.h"

#include "base/IniValues.h"
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

void Put(LineList& lines, const char* key, const std::string& value) {
  lines.Add(std::string(key) + "=" + Escape(value));
}

}  // namespace

const SavedConnection* SavedBrowsers::Find(const std::string& connection) const {
  for (const SavedConnection& saved : connections) {
    if (saved.name == connection) {
      return &saved;
    }
  }
  return nullptr;
}

std::string FormatSavedBrowsers(const SavedBrowsers& saved) {
  LineList lines;
  lines.Add(kHeader);
  for (const SavedConnection& c : saved.connections) {
    lines.Add("[Connection]");
    Put(lines, "Name", c.name);
    Put(lines, "Flags", std::to_string(c.settings.flags));
    Put(lines, "ProxyServer", c.settings.proxyServer);
    if (c.settings.bypass) {
      Put(lines, "Bypass", *c.settings.bypass);
    }
    if (c.settings.autoConfigUrl) {
      Put(lines, "AutoConfigUrl", *c.settings.autoConfigUrl);
    }
  }
  if (saved.netscapeLines) {
    lines.Add("[Netscape]");
    for (const std::string& line : *saved.netscapeLines) {
      Put(lines, "Line", line);
    }
  }
  if (saved.operaUrl) {
    lines.Add("[Opera]");
    Put(lines, "Url", *saved.operaUrl);
  }
  return lines.Text();
}

std::optional<SavedBrowsers> ParseSavedBrowsers(const std::string& text) {
  LineList lines;
  lines.SetText(text);
  if (lines.Count() == 0 || lines[0] != kHeader) {
    return std::nullopt;
  }
  SavedBrowsers saved;
  std::string section;
  for (std::size_t i = 1; i < lines.Count(); ++i) {
    const std::string& line = lines[i];
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      section = line.substr(1, line.size() - 2);
      if (section == "Connection") {
        saved.connections.emplace_back();
      } else if (section == "Netscape") {
        saved.netscapeLines.emplace();
      } else if (section == "Opera") {
        saved.operaUrl.emplace();
      }
      continue;
    }
    const auto equals = line.find('=');
    if (equals == std::string::npos) {
      continue;
    }
    const std::string key = line.substr(0, equals);
    const std::string value = Unescape(line.substr(equals + 1));
    if (section == "Connection") {
      ConnectionProxy& c = saved.connections.back().settings;
      if (key == "Name") {
        saved.connections.back().name = value;
      } else if (key == "Flags") {
        c.flags = static_cast<unsigned>(ParseIniInteger(value).value_or(kProxyTypeDirect));
      } else if (key == "ProxyServer") {
        c.proxyServer = value;
      } else if (key == "Bypass") {
        c.bypass = value;
      } else if (key == "AutoConfigUrl") {
        c.autoConfigUrl = value;
      }
    } else if (section == "Netscape" && key == "Line") {
      saved.netscapeLines->push_back(value);
    } else if (section == "Opera" && key == "Url") {
      *saved.operaUrl = value;
    }
  }
  return saved;
}

}  // namespace umbrane
