// Talking to the relay, an ordinary HTTP proxy with Basic authentication:
// the CONNECT request, the status of its answer, and the credentials added to
// a request that is passed on whole.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace warden {

std::string Base64(std::string_view data);

// "CONNECT authority HTTP/1.1" with Host and Proxy-Authorization.
std::string ConnectRequest(const std::string& authority, const std::string& user,
                           const std::string& token);

// The status code of an HTTP answer's first line, or nothing.
std::optional<int> StatusCode(std::string_view head);

// `head` (a whole request head) with any Proxy-Authorization replaced by ours.
std::string WithCredentials(std::string_view head, const std::string& user,
                            const std::string& token);

// 401 (tinyproxy) and 407 (Squid and others) both mean refused credentials.
inline bool CredentialsRefused(int status) {
  return status == 401 || status == 407;
}

}  // namespace warden
