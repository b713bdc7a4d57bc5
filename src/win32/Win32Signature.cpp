// The signature check on Windows: BCrypt, the system's own primitives. Its
// ECDSA takes the key as X || Y and the signature as r || s, as they come.
#include <windows.h>
#include <bcrypt.h>
#include <wincrypt.h>

#include <array>
#include <string>

#include "update/Signature.h"

namespace umbrane {
namespace {

bool Sha256(std::string_view message, std::array<UCHAR, 32>& digest) {
  DWORD size = digest.size();
  return CryptHashCertificate2(BCRYPT_SHA256_ALGORITHM, 0, nullptr,
                               reinterpret_cast<const BYTE*>(message.data()),
                               static_cast<DWORD>(message.size()), digest.data(), &size) &&
         size == digest.size();
}

}  // namespace

bool SignatureHolds(std::string_view publicKey, std::string_view message,
                    std::string_view signature) {
  if (publicKey.size() != kPublicKeyBytes || signature.size() != kSignatureBytes) {
    return false;
  }
  std::array<UCHAR, 32> digest{};
  if (!Sha256(message, digest)) {
    return false;
  }
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0) < 0) {
    return false;
  }
  std::string blob(sizeof(BCRYPT_ECCKEY_BLOB), '\0');
  BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
  blob.replace(0, sizeof header, reinterpret_cast<const char*>(&header), sizeof header);
  blob.append(publicKey);
  BCRYPT_KEY_HANDLE key = nullptr;
  bool holds = false;
  if (BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                          reinterpret_cast<PUCHAR>(blob.data()), static_cast<ULONG>(blob.size()),
                          0) >= 0) {
    holds = BCryptVerifySignature(key, nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                  reinterpret_cast<PUCHAR>(const_cast<char*>(signature.data())),
                                  static_cast<ULONG>(signature.size()), 0) >= 0;
    (void)BCryptDestroyKey(key);
  }
  (void)BCryptCloseAlgorithmProvider(algorithm, 0);
  return holds;
}

}  // namespace umbrane
