// Talking to the relay, an ordinary HTTP proxy with Basic authentication:
// the CONNECT request (the only words of ours it reads, the credentials
// included) and the status of its answer.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace warden {

// "CONNECT authority HTTP/1.1" with Host and Proxy-Authorization.
std::string ConnectRequest(const std::string& authority, const std::string& user,
                           const std::string& token);

// The status code of an HTTP answer's first line, or nothing.
std::optional<int> StatusCode(std::string_view head);

// 401 (tinyproxy) and 407 (Squid and others) both mean refused credentials.
inline bool CredentialsRefused(int status) {
  return status == 401 || status == 407;
}

}  // namespace warden
