// Reading INI values the way the program always has, and writing query
// values safely.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace umbrane {

// A 32-bit integer in decimal (optional sign) or hexadecimal with a leading
// "$", "0x" or "0X"; nothing for any other text (empty, blanks inside,
// trailing letters, out of range).
std::optional<std::int32_t> ParseIniInteger(std::string_view text);

}  // namespace umbrane
