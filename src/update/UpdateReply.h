// The update service's reply and the rules a reply must pass before the
// program acts on it. The service signs what has an effect (a new version
// required, the access token, the relays it hands out) together with the
// request's identifiers, when it was issued, until when it holds and a
// number that only grows; the program acts only on a reply that its own
// keys vouch for, that answers this machine's request, that holds now and
// that is newer than every reply it accepted before.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/IniFile.h"

namespace umbrane {

// The request's identifiers, as they stood in its query.
struct UpdateRequest {
  std::string id;
  std::string sn;
  std::string version;
};

// The values of the reply's section "Update", as read (missing ones empty).
struct UpdateReply {
  std::string newVersion;
  std::string key;
  std::string relays;  // the relays' list (tunnel/RelayList.h), or empty
  std::string id;
  std::string sn;
  std::string version;
  std::string issued;     // seconds since 1970-01-01 UTC
  std::string expires;    // the same; the reply holds until then
  std::string serial;     // the service's number for it, growing
  std::string signature;  // base64 of r || s
};

// The reply's keys in the order they are signed (Signature is not), each
// with its place in UpdateReply.
struct ReplyField {
  const char* name;
  std::string UpdateReply::*value;
};
inline constexpr ReplyField kSignedFields[] = {{"Id", &UpdateReply::id},
                                               {"Sn", &UpdateReply::sn},
                                               {"Version", &UpdateReply::version},
                                               {"Issued", &UpdateReply::issued},
                                               {"Expires", &UpdateReply::expires},
                                               {"Serial", &UpdateReply::serial},
                                               {"NewVersion", &UpdateReply::newVersion},
                                               {"Key", &UpdateReply::key},
                                               {"Relays", &UpdateReply::relays}};

UpdateReply ReadUpdateReply(const IniFile& reply);

// What the signature covers: the reply's values in a fixed order, one per
// line, behind a line that names the format.
std::string SignedText(const UpdateReply& reply);

// Which keys vouch for replies: the current one first, then a backup for
// its rotation. A build may accept unsigned replies instead (tests only).
struct UpdateTrust {
  std::vector<std::string> keys;  // raw, kPublicKeyBytes each
  bool acceptUnsigned = false;
};

// The entries of a comma-separated list of base64 values that decode to
// `size` bytes (the build refuses to configure with any other).
std::vector<std::string> DecodedList(std::string_view list, std::size_t size);

// The build's keys, and the digests of the update service's TLS keys it
// pins (none: the system's roots vouch for the service).
UpdateTrust BuiltUpdateTrust();
std::vector<std::string> BuiltUpdatePins();

enum class Refusal {
  None,
  Unsigned,
  NotASignature,
  AnotherKey,
  OutOfBounds,
  NotARelayList,
  AnotherMachine,
  Expired,
  Older,
};

struct Verdict {
  Refusal refusal = Refusal::None;
  std::uint64_t serial = 0;  // of a signed reply that passed; 0 otherwise
};

// The rules, in order: signed, by one of our keys, within bounds, for this
// request, holding at `now` (seconds since 1970 UTC), numbered above
// `highest` (the highest number accepted before).
Verdict CheckReply(const UpdateReply& reply, const UpdateRequest& request, const UpdateTrust& trust,
                   std::int64_t now, std::uint64_t highest);

// A time or a number of a reply (or the one kept in the settings): decimal
// digits only, no sign, within 63 bits.
std::optional<std::uint64_t> ReplyCount(const std::string& text);

// One line for the log: why a reply was refused.
std::string RefusalText(Refusal refusal);

}  // namespace umbrane
