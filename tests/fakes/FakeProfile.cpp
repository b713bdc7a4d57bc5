#include "FakeProfile.h"

#include "base/LineList.h"
#include "base/Text.h"

namespace umbrane::fakes {

namespace {

// Outside the class so the reader and the writer share it.
std::string Trim(const std::string& s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) {
    return {};
  }
  const auto last = s.find_last_not_of(" \t");
  return s.substr(first, last - first + 1);
}

}  // namespace

std::string FakeProfile::ReadString(const std::string& file, const std::string& section,
                                    const std::string& key, const std::string& fallback) {
  const auto content = files_.Content(file);
  if (!content) {
    return fallback;
  }
  LineList lines;
  lines.SetText(*content);
  bool inSection = false;
  for (const std::string& raw : lines.Lines()) {
    const std::string line = Trim(raw);
    if (!line.empty() && line.front() == '[') {
      const auto close = line.find(']');
      inSection = close != std::string::npos &&
                  LowerCase(Trim(line.substr(1, close - 1))) == LowerCase(section);
      continue;
    }
    const auto eq = line.find('=');
    if (inSection && eq != std::string::npos &&
        LowerCase(Trim(line.substr(0, eq))) == LowerCase(key)) {
      return Trim(line.substr(eq + 1)).substr(0, 2047);
    }
  }
  return fallback;
}

}  // namespace umbrane::fakes

namespace umbrane::fakes {

bool FakeProfile::WriteString(const std::string& file, const std::string& section,
                              const std::string& key, const std::string& value) {
  LineList lines;
  lines.SetText(files_.Content(file).value_or(""));
  LineList out;
  bool inSection = false;
  bool sectionSeen = false;
  bool written = false;
  for (const std::string& raw : lines.Lines()) {
    const std::string line = Trim(raw);
    if (!line.empty() && line.front() == '[') {
      if (inSection && !written) {
        out.Add(key + "=" + value);
        written = true;
      }
      const auto close = line.find(']');
      inSection = close != std::string::npos &&
                  LowerCase(Trim(line.substr(1, close - 1))) == LowerCase(section);
      sectionSeen = sectionSeen || inSection;
      out.Add(raw);
      continue;
    }
    const auto eq = line.find('=');
    if (inSection && !written && eq != std::string::npos &&
        LowerCase(Trim(line.substr(0, eq))) == LowerCase(key)) {
      out.Add(key + "=" + value);
      written = true;
      continue;
    }
    out.Add(raw);
  }
  if (!written) {
    if (!sectionSeen) {
      out.Add("[" + section + "]");
    }
    out.Add(key + "=" + value);
  }
  std::string error;
  return files_.WriteFile(file, out.Text(), WriteMode::Replace, error);
}

}  // namespace umbrane::fakes
