// Small readings of HTTP text the client's and the site's streams share.
#pragma once

#include <string>
#include <string_view>

namespace warden {

std::string Lower(std::string_view text);
// Without the spaces and tabs at either end.
std::string_view Trim(std::string_view text);
// Digits of `base` (10 or 16), at most 15 of them; false for anything else.
bool ParseNumber(std::string_view text, int base, unsigned long long& value);

}  // namespace warden
