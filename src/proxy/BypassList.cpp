#include "proxy/BypassList.h"

#include <algorithm>
#include <cctype>

#include "base/Text.h"

namespace umbrane {

namespace {

bool AllOf(const std::string& text, int (*test)(int)) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [test](char c) {
    return test(static_cast<unsigned char>(c)) != 0;
  });
}

// "a.b.*" with one to three octets: the address block it stands for.
std::string Ipv4Block(const std::string& entry) {
  if (entry.size() < 3 || entry.compare(entry.size() - 2, 2, ".*") != 0) {
    return {};
  }
  std::vector<std::string> octets;
  std::string rest = entry.substr(0, entry.size() - 2);
  for (std::size_t dot; (dot = rest.find('.')) != std::string::npos; rest.erase(0, dot + 1)) {
    octets.push_back(rest.substr(0, dot));
  }
  octets.push_back(rest);
  if (octets.size() > 3) {
    return {};
  }
  for (const std::string& octet : octets) {
    if (!AllOf(octet, isdigit) || octet.size() > 3 || std::stoi(octet) > 255) {
      return {};
    }
  }
  const std::size_t bits = octets.size() * 8;
  octets.resize(4, "0");
  return octets[0] + "." + octets[1] + "." + octets[2] + "." + octets[3] + "/" +
         std::to_string(bits);
}

// "[fe8*]": the addresses whose first group starts with those hex digits.
std::string Ipv6Block(const std::string& entry) {
  if (entry.size() < 4 || entry.front() != '[' || entry.compare(entry.size() - 2, 2, "*]") != 0) {
    return {};
  }
  const std::string digits = entry.substr(1, entry.size() - 3);
  if (digits.size() > 4 || !AllOf(digits, isxdigit)) {
    return {};
  }
  return "[" + digits + std::string(4 - digits.size(), '0') + "::]/" +
         std::to_string(digits.size() * 4);
}

}  // namespace

std::vector<std::string> BypassEntries(const std::string& list) {
  std::vector<std::string> entries;
  std::string entry;
  for (const char c : list + ";") {
    if (c == ';' || c == ',' || std::isspace(static_cast<unsigned char>(c))) {
      if (!entry.empty()) {
        entries.push_back(entry);
      }
      entry.clear();
    } else {
      entry += c;
    }
  }
  return entries;
}

std::string MergeBypass(const std::string& ours, const std::string& users) {
  std::vector<std::string> merged = BypassEntries(ours);
  for (const std::string& entry : BypassEntries(users)) {
    const bool known = std::any_of(merged.begin(), merged.end(), [&](const std::string& m) {
      return LowerCase(m) == LowerCase(entry);
    });
    if (!known) {
      merged.push_back(entry);
    }
  }
  std::string text;
  for (const std::string& entry : merged) {
    text += (text.empty() ? "" : ";") + entry;
  }
  return text;
}

std::string MozillaBypass(const std::string& list) {
  std::string text;
  for (const std::string& entry : BypassEntries(list)) {
    std::string form = entry;
    const auto slash = entry.find('/');
    if (slash != std::string::npos && entry.find(':') < slash && entry[0] != '[') {
      // The Chromium family reads an IPv6 block bare (fe80::/10), the
      // Mozilla family only in brackets.
      form = std::string("[").append(entry, 0, slash).append("]").append(entry, slash);
    } else if (entry.find('*') != std::string::npos) {
      if (const std::string v4 = Ipv4Block(entry); !v4.empty()) {
        form = v4;
      } else if (const std::string v6 = Ipv6Block(entry); !v6.empty()) {
        form = v6;
      } else if (entry.size() > 2 && entry.compare(0, 2, "*.") == 0 &&
                 entry.find('*', 1) == std::string::npos) {
        form = entry.substr(1);  // a domain and everything under it
      } else {
        continue;  // no such pattern in the Mozilla form
      }
    }
    text += (text.empty() ? "" : ",") + form;
  }
  return text;
}

}  // namespace umbrane
