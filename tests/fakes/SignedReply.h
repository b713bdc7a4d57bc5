// Update replies signed as the service signs them, with the keys of the
// tests' own authority (update.key and update-backup.key are the test
// builds' keys, update-other.key is nobody's), for the controller's tests.
#pragma once

#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>

#include "update/UpdateReply.h"

namespace umbrane::fakes {

inline std::string Base64(const std::string& bytes) {
  std::string text(4 * ((bytes.size() + 2) / 3) + 1, '\0');
  const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(text.data()),
                                reinterpret_cast<const unsigned char*>(bytes.data()),
                                static_cast<int>(bytes.size()));
  text.resize(static_cast<std::size_t>(n));
  return text;
}

// r || s of `key`'s signature of `text`.
inline std::string Sign(const std::string& text, EVP_PKEY* key) {
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> context(EVP_MD_CTX_new(),
                                                                  &EVP_MD_CTX_free);
  unsigned char der[80];
  std::size_t size = sizeof der;
  if (key == nullptr ||
      EVP_DigestSignInit(context.get(), nullptr, EVP_sha256(), nullptr, key) != 1 ||
      EVP_DigestSign(context.get(), der, &size, reinterpret_cast<const unsigned char*>(text.data()),
                     text.size()) != 1) {
    throw std::runtime_error("cannot sign");
  }
  const unsigned char* cursor = der;
  std::unique_ptr<ECDSA_SIG, decltype(&ECDSA_SIG_free)> pair(
      d2i_ECDSA_SIG(nullptr, &cursor, static_cast<long>(size)), &ECDSA_SIG_free);
  std::string raw(64, '\0');
  auto* bytes = reinterpret_cast<unsigned char*>(raw.data());
  BN_bn2binpad(ECDSA_SIG_get0_r(pair.get()), bytes, 32);
  BN_bn2binpad(ECDSA_SIG_get0_s(pair.get()), bytes + 32, 32);
  return raw;
}

// The same with `signer`, a key file of the tests' authority.
inline std::string Sign(const std::string& text, const std::string& signer) {
  FILE* file = std::fopen((std::string(UMBRANE_TEST_PKI) + "/" + signer).c_str(), "r");
  if (file == nullptr) {
    throw std::runtime_error("no key " + signer);
  }
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> key(
      PEM_read_PrivateKey(file, nullptr, nullptr, nullptr), &EVP_PKEY_free);
  std::fclose(file);
  return Sign(text, key.get());
}

// The INI text of `reply`, its values and Signature as they stand.
inline std::string ReplyText(const UpdateReply& reply) {
  std::string text = "[Update]\r\n";
  for (const ReplyField& field : kSignedFields) {
    text.append(field.name).append("=").append(reply.*field.value).append("\r\n");
  }
  return text.append("Signature=").append(reply.signature).append("\r\n");
}

// The INI text of `reply`, its Signature made by `signer` over its values.
inline std::string SignedReply(UpdateReply reply, const std::string& signer = "update.key") {
  reply.signature = Base64(Sign(SignedText(reply), signer));
  return ReplyText(reply);
}

}  // namespace umbrane::fakes
