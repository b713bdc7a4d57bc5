// Which hosts skip the tunnel while it is on: plain host names and the
// local and private address ranges (the router's page, a printer, a NAS, an
// intranet), which the relay could not reach anyway.
//
// The list travels as the system settings take it: ";"-separated patterns
// where "*" stands for any text. That form also reaches the Chromium family,
// which reads the system settings. The Mozilla family (Firefox through its
// extension, Netscape) reads comma-separated hosts, ".domain" suffixes and
// address blocks instead, so the list is turned into that form for them.
#pragma once

#include <string>
#include <vector>

namespace umbrane {

// Plain names, localhost, 127/8, 10/8, 172.16/12, 192.168/16, 169.254/16,
// and IPv6 loopback, link-local (fe80::/10) and unique-local (fc00::/7).
inline constexpr const char* kLocalBypass =
    "<local>;localhost;127.*;10.*;172.16.*;172.17.*;172.18.*;172.19.*;172.20.*;172.21.*;"
    "172.22.*;172.23.*;172.24.*;172.25.*;172.26.*;172.27.*;172.28.*;172.29.*;172.30.*;"
    "172.31.*;192.168.*;169.254.*;[::1];[fe8*];[fe9*];[fea*];[feb*];[fc*];[fd*]";

// The entries of a list, cut at ";" (also "," and white space), empty ones
// dropped.
std::vector<std::string> BypassEntries(const std::string& list);

// `ours` followed by the entries of `users` it does not hold yet (letter
// case aside), ";"-separated.
std::string MergeBypass(const std::string& ours, const std::string& users);

// The list in the form the Mozilla family reads, ","-separated: "127.*"
// becomes "127.0.0.0/8", "[fe8*]" becomes "[fe80::]/12", "*.corp" becomes
// ".corp"; a pattern that has no such form is left out.
std::string MozillaBypass(const std::string& list);

}  // namespace umbrane
