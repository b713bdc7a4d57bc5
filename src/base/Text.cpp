#include "base/Text.h"

namespace umbrane {

std::string AddTrailingBackslash(std::string_view path) {
  std::string result(path);
  if (result.empty() || result.back() != '\\') {
    result += '\\';
  }
  return result;
}

std::string ExtractFilePath(std::string_view path) {
  const auto pos = path.find_last_of("\\:");
  if (pos == std::string_view::npos) {
    return {};
  }
  return std::string(path.substr(0, pos + 1));
}

std::string LeadingVersionNumber(std::string_view text) {
  std::size_t n = 0;
  while (n < text.size() && (text[n] == '.' || (text[n] >= '0' && text[n] <= '9'))) {
    ++n;
  }
  return std::string(text.substr(0, n));
}

std::string LowerCase(std::string_view text) {
  std::string result(text);
  for (char& c : result) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return result;
}

std::string ZeroPad(unsigned value, unsigned width) {
  std::string digits = std::to_string(value);
  if (digits.size() < width) {
    digits.insert(0, width - digits.size(), '0');
  }
  return digits;
}

}  // namespace umbrane
