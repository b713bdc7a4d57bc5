// The cipher of the agent's access token: a position-keyed XOR that keeps
// every byte in its class (control bytes pass unchanged, printable ones stay
// printable), and is its own inverse.
#pragma once

#include <string>
#include <string_view>

namespace umbrane {

// The update service's token key.
inline constexpr const char* kTokenKey = "tavrek";

// Empty when the key or the text is empty; otherwise as long as the text.
std::string Cipher(std::string_view text, std::string_view key);

// True for a token that can stand on the agent's command line as one word:
// no blank, no quote, no control character.
bool IsSafeToken(std::string_view token);

}  // namespace umbrane
