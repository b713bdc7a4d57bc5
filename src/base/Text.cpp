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

std::optional<std::string> Base64Decode(std::string_view text) {
  if (text.size() % 4 != 0) {
    return std::nullopt;
  }
  const auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z')
      return c - 'A';
    if (c >= 'a' && c <= 'z')
      return c - 'a' + 26;
    if (c >= '0' && c <= '9')
      return c - '0' + 52;
    if (c == '+')
      return 62;
    if (c == '/')
      return 63;
    return -1;
  };
  const std::size_t pads = text.ends_with("==") ? 2 : text.ends_with('=') ? 1 : 0;
  std::string bytes;
  unsigned bits = 0;
  int held = 0;
  for (std::size_t i = 0; i < text.size() - pads; ++i) {
    const int v = value(text[i]);
    if (v < 0) {
      return std::nullopt;
    }
    bits = (bits << 6) | static_cast<unsigned>(v);
    held += 6;
    if (held >= 8) {
      held -= 8;
      bytes.push_back(static_cast<char>((bits >> held) & 0xFF));
    }
  }
  // What is left must be the padding's zero bits, and only as many as "="s.
  if ((bits & ((1u << held) - 1)) != 0 || held != static_cast<int>(pads) * 2) {
    return std::nullopt;
  }
  return bytes;
}

}  // namespace umbrane
