// The check of the update service's signature: ECDSA over P-256 with
// SHA-256, by the system's own primitives (BCrypt on Windows, OpenSSL
// elsewhere); nothing of the arithmetic is ours.
#pragma once

#include <cstddef>
#include <string_view>

namespace umbrane {

// A public key is the curve point's X and Y, 32 bytes each (the last 64
// bytes of its SubjectPublicKeyInfo); a signature is r and s, 32 bytes each.
inline constexpr std::size_t kPublicKeyBytes = 64;
inline constexpr std::size_t kSignatureBytes = 64;

// True when `signature` is `publicKey`'s signature of `message`. Anything of
// the wrong size, or a key that is not a point of the curve, gives false.
bool SignatureHolds(std::string_view publicKey, std::string_view message,
                    std::string_view signature);

}  // namespace umbrane
