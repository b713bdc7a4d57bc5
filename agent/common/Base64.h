// Base64 (RFC 4648, with padding): the relay's credentials and the pins of
// its keys are written in it.
#pragma once

#include <string>
#include <string_view>

namespace warden {

std::string Base64(std::string_view data);

}  // namespace warden
