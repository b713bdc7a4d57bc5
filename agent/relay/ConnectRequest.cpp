#include "relay/ConnectRequest.h"

#include "common/Base64.h"

#include <cctype>

namespace warden {

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
