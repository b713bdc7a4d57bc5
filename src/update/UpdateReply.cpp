#include "update/UpdateReply.h"

#include "tunnel/RelayList.h"

#include <charconv>
#include <limits>
#include <optional>

#include "BuildConfig.h"
#include "base/Text.h"
#include "update/Signature.h"

namespace umbrane {
namespace {

// A token longer than this is no token of ours.
constexpr std::size_t kMaxKeyChars = 1024;

}  // namespace

std::optional<std::uint64_t> ReplyCount(const std::string& text) {
  if (text.empty() || text.size() > 19) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size() ||
      value > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max())) {
    return std::nullopt;
  }
  return value;
}

namespace {

bool VouchedFor(const UpdateReply& reply, const std::string& signature,
                const std::vector<std::string>& keys) {
  const std::string text = SignedText(reply);
  for (const std::string& key : keys) {
    if (SignatureHolds(key, text, signature)) {
      return true;
    }
  }
  return false;
}

}  // namespace

UpdateReply ReadUpdateReply(const IniFile& reply) {
  UpdateReply values;
  for (const ReplyField& field : kSignedFields) {
    values.*field.value = reply.ReadString("Update", field.name, "");
  }
  values.signature = reply.ReadString("Update", "Signature", "");
  return values;
}

std::string SignedText(const UpdateReply& reply) {
  std::string text = "Umbrane update reply 1\n";
  for (const ReplyField& field : kSignedFields) {
    text.append(field.name).append("=").append(reply.*field.value).append("\n");
  }
  return text;
}

std::vector<std::string> DecodedList(std::string_view list, std::size_t size) {
  std::vector<std::string> decoded;
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    const auto one = Base64Decode(list.substr(0, comma));
    if (one && one->size() == size) {
      decoded.push_back(*one);
    }
    list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
  }
  return decoded;
}

UpdateTrust BuiltUpdateTrust() {
  return {DecodedList(build::kUpdateKeys, kPublicKeyBytes), build::kAcceptUnsignedUpdates};
}

std::vector<std::string> BuiltUpdatePins() {
  return DecodedList(build::kUpdatePins, 32);
}

Verdict CheckReply(const UpdateReply& reply, const UpdateRequest& request, const UpdateTrust& trust,
                   std::int64_t now, std::uint64_t highest) {
  if (reply.signature.empty() || (trust.keys.empty() && trust.acceptUnsigned)) {
    // Only a build that says so acts on a reply nobody vouches for (and one
    // without keys could vouch for none).
    return {trust.acceptUnsigned ? Refusal::None : Refusal::Unsigned, 0};
  }
  const auto signature = Base64Decode(reply.signature);
  if (!signature || signature->size() != kSignatureBytes) {
    return {Refusal::NotASignature, 0};
  }
  if (!VouchedFor(reply, *signature, trust.keys)) {
    return {Refusal::AnotherKey, 0};
  }
  const auto issued = ReplyCount(reply.issued);
  const auto expires = ReplyCount(reply.expires);
  const auto serial = ReplyCount(reply.serial);
  if (!issued || !expires || !serial || *issued > *expires || reply.key.size() > kMaxKeyChars) {
    return {Refusal::OutOfBounds, 0};
  }
  std::string problem;
  if (!reply.relays.empty() && !ParseRelayList(reply.relays, problem)) {
    return {Refusal::NotARelayList, 0};
  }
  if (reply.id != request.id || reply.sn != request.sn || reply.version != request.version) {
    return {Refusal::AnotherMachine, 0};
  }
  if (now < 0 || static_cast<std::uint64_t>(now) >= *expires) {
    return {Refusal::Expired, 0};
  }
  if (*serial <= highest) {
    return {Refusal::Older, 0};
  }
  return {Refusal::None, *serial};
}

std::string RefusalText(Refusal refusal) {
  switch (refusal) {
    case Refusal::None:
      return "the reply is accepted";
    case Refusal::Unsigned:
      return "the reply is unsigned";
    case Refusal::NotASignature:
      return "the reply's signature is not one (not base64 of 64 bytes)";
    case Refusal::AnotherKey:
      return "the reply is signed by another key";
    case Refusal::OutOfBounds:
      return "the reply's times, number or token are over the limits";
    case Refusal::NotARelayList:
      return "the reply's relay list is not one (ADDRESS:PORT=PIN|PIN, ...)";
    case Refusal::AnotherMachine:
      return "the reply is for another machine (another id, sn or version)";
    case Refusal::Expired:
      return "the reply has expired (or this computer's clock is wrong)";
    case Refusal::Older:
      return "the reply is older than one accepted before (a replay)";
  }
  return "the reply is refused";
}

}  // namespace umbrane
