// An update reply as it arrives: read through the INI reader's rules, then
// checked. A reply the fuzzer made can never pass (it cannot sign); the same
// values signed with this run's key reach every later rule, which must hold
// what it promises.
#include <openssl/ecdsa.h>
#include <openssl/evp.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "FakeFileSystem.h"
#include "FakeProfile.h"
#include "SignedReply.h"
#include "tunnel/RelayList.h"
#include "update/Signature.h"
#include "update/UpdateReply.h"

namespace {

using namespace umbrane;

struct Signer {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  std::string publicKey;  // X || Y
  Signer() {
    unsigned char point[65];
    std::size_t size = 0;
    if (key == nullptr ||
        EVP_PKEY_get_octet_string_param(key, "pub", point, sizeof point, &size) != 1 ||
        size != 65) {
      std::abort();
    }
    publicKey.assign(reinterpret_cast<const char*>(point) + 1, 64);
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const Signer signer;
  const std::string text(reinterpret_cast<const char*>(data), size);
  fakes::FakeFileSystem files;
  files.AddFolder("C:\\t");
  files.AddFile("C:\\t\\fladdm.temp", text);
  fakes::FakeProfile profile(files);
  UpdateReply reply = ReadUpdateReply(IniFile(profile, "C:\\t\\fladdm.temp"));
  const UpdateRequest request{"-5", "", "4.01"};
  const UpdateTrust trust{{signer.publicKey}, false};
  const std::int64_t now = 1'800'000'000;
  if (CheckReply(reply, request, trust, now, 41).refusal == Refusal::None) {
    std::abort();  // a reply nobody here signed was accepted
  }
  // The same values, signed: only the later rules can refuse them.
  reply.signature = fakes::Base64(fakes::Sign(SignedText(reply), signer.key));
  const Verdict verdict = CheckReply(reply, request, trust, now, 41);
  if (verdict.refusal == Refusal::Unsigned || verdict.refusal == Refusal::NotASignature ||
      verdict.refusal == Refusal::AnotherKey) {
    std::abort();  // a good signature refused
  }
  if (verdict.refusal == Refusal::None &&
      (verdict.serial <= 41 || reply.id != request.id || reply.sn != request.sn ||
       reply.version != request.version ||
       std::strtoll(reply.expires.c_str(), nullptr, 10) <= now)) {
    std::abort();  // accepted against a rule
  }
  if (verdict.refusal == Refusal::None && !reply.relays.empty()) {
    // The relays it hands out are kept as the agent reads them back.
    std::string problem;
    const auto relays = ParseRelayList(reply.relays, problem);
    const auto kept = relays ? ParseRelayList(RelayListText(*relays), problem) : std::nullopt;
    if (!kept || RelayListText(*kept) != RelayListText(*relays)) {
      std::abort();
    }
  }
  return 0;
}
