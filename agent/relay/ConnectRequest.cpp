#include "relay/ConnectRequest.h"

#include <cctype>

namespace warden {

std::string Base64(std::string_view data) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  std::size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(data[i]) << 16 |
                       static_cast<unsigned char>(data[i + 1]) << 8 |
                       static_cast<unsigned char>(data[i + 2]);
    out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63],
            kAlphabet[v & 63]};
  }
  if (i + 1 == data.size()) {
    const unsigned v = static_cast<unsigned char>(data[i]) << 16;
    out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], '=', '='};
  } else if (i + 2 == data.size()) {
    const unsigned v =
        static_cast<unsigned char>(data[i]) << 16 | static_cast<unsigned char>(data[i + 1]) << 8;
    out += {kAlphabet[v >> 18], kAlphabet[(v >> 12) & 63], kAlphabet[(v >> 6) & 63], '='};
  }
  return out;
}

std::string ConnectRequest(const std::string& authority, const std::string& user,
                           const std::string& token) {
  return "CONNECT " + authority + " HTTP/1.1\r\nHost: " + authority +
         "\r\nProxy-Authorization: Basic " + Base64(user + ":" + token) + "\r\n\r\n";
}

std::optional<int> StatusCode(std::string_view head) {
  // "HTTP/1.x NNN ..."
  if (head.substr(0, 5) != "HTTP/") {
    return std::nullopt;
  }
  const auto space = head.find(' ');
  if (space == std::string_view::npos || head.size() < space + 4) {
    return std::nullopt;
  }
  int code = 0;
  for (std::size_t i = space + 1; i < space + 4; ++i) {
    if (!std::isdigit(static_cast<unsigned char>(head[i]))) {
      return std::nullopt;
    }
    code = code * 10 + (head[i] - '0');
  }
  return code;
}

}  // namespace warden
