#include "local/HttpText.h"

#include <cctype>

namespace warden {

std::string Lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return out;
}

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) {
    text.remove_prefix(1);
  }
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) {
    text.remove_suffix(1);
  }
  return text;
}

bool ParseNumber(std::string_view text, int base, unsigned long long& value) {
  if (text.empty() || text.size() > 15) {
    return false;
  }
  value = 0;
  for (const char c : text) {
    int digit = -1;
    if (c >= '0' && c <= '9') {
      digit = c - '0';
    } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
      digit = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    }
    if (digit < 0) {
      return false;
    }
    value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
  }
  return true;
}

}  // namespace warden
