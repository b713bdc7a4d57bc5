#include "tunnel/Cipher.h"

namespace umbrane {

std::string Cipher(std::string_view text, std::string_view key) {
  std::string result;
  if (key.empty() || text.empty()) {
    return result;
  }
  result.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto k = static_cast<unsigned char>(key[i % key.size()]);
    const auto c = static_cast<unsigned char>(text[i]);
    unsigned char mask = 0;
    if (c >= 0x80) {
      mask = k & 0x7F;
    } else if (c >= 0x40) {
      mask = k & 0x3F;
    } else if (c >= 0x20) {
      mask = k & 0x1F;
    }
    result += static_cast<char>(c ^ mask);
  }
  return result;
}

bool IsSafeToken(std::string_view token) {
  if (token.empty()) {
    return false;
  }
  for (const char ch : token) {
    const auto c = static_cast<unsigned char>(ch);
    if (c <= 0x20 || c == 0x7F || c == '"') {
      return false;
    }
  }
  return true;
}

}  // namespace umbrane
