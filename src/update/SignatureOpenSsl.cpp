// The signature check where the system's library is OpenSSL (the native
// build: its tests, the fuzz targets and the benchmarks).
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>

#include <memory>
#include <string>

#include "update/Signature.h"

namespace umbrane {
namespace {

// What comes before 04 || X || Y in every P-256 SubjectPublicKeyInfo.
constexpr unsigned char kP256KeyInfoPrefix[] = {
    0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06,
    0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04};

}  // namespace

bool SignatureHolds(std::string_view publicKey, std::string_view message,
                    std::string_view signature) {
  if (publicKey.size() != kPublicKeyBytes || signature.size() != kSignatureBytes) {
    return false;
  }
  std::string info(reinterpret_cast<const char*>(kP256KeyInfoPrefix), sizeof kP256KeyInfoPrefix);
  info.append(publicKey);
  const auto* cursor = reinterpret_cast<const unsigned char*>(info.data());
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      d2i_PUBKEY(nullptr, &cursor, static_cast<long>(info.size())), &EVP_PKEY_free);
  if (!key) {
    return false;  // not a point of the curve
  }
  // OpenSSL takes the signature in DER: r and s are wrapped, not changed.
  std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> pair(ECDSA_SIG_new(), &ECDSA_SIG_free);
  const auto* raw = reinterpret_cast<const unsigned char*>(signature.data());
  BIGNUM* r = BN_bin2bn(raw, 32, nullptr);
  BIGNUM* s = BN_bin2bn(raw + 32, 32, nullptr);
  if (!pair || r == nullptr || s == nullptr || ECDSA_SIG_set0(pair.get(), r, s) != 1) {
    BN_free(r);
    BN_free(s);
    return false;
  }
  unsigned char* der = nullptr;
  const int derSize = i2d_ECDSA_SIG(pair.get(), &der);
  if (derSize <= 0) {
    return false;
  }
  std::unique_ptr<unsigned char, void (*)(unsigned char*)> derHeld(
      der, [](unsigned char* p) { OPENSSL_free(p); });
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  &EVP_MD_CTX_free);
  return context &&
         EVP_DigestVerifyInit(context.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
         EVP_DigestVerify(context.get(), der, static_cast<std::size_t>(derSize),
                          reinterpret_cast<const unsigned char*>(message.data()),
                          message.size()) == 1;
}

}  // namespace umbrane
