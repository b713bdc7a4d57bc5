// What the relay answers: the head of its reply to a CONNECT or to the
// credentials check, read whole (up to the agent's bound) before its
// status is looked at.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "common/Limits.h"
#include "relay/ConnectRequest.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view head(reinterpret_cast<const char*>(data), size);
  head = head.substr(0, warden::kMaxHead);
  const auto status = warden::StatusCode(head);
  if (status && (*status < 0 || *status > 999)) {
    std::abort();
  }
  (void)warden::CredentialsRefused(status.value_or(0));
  return 0;
}
