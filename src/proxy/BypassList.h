// Which hosts skip the tunnel while it is on: this machine and the local
// and private address ranges (the router's page, a printer, a NAS by its
// address), which the relay could not reach anyway.
//
// Only forms that match an address and never a name: a pattern such as
// "10.*" or "<local>" is read as a host-name pattern, so a page could name
// an image "10.x.its-own-domain" (or a plain name) and have the browser
// fetch it around the tunnel, from the user's own address, after asking
// the user's resolver. The ranges are address blocks ("10.0.0.0/8"): the
// Chromium family (which reads the system settings) and the Mozilla family
// match them against address literals only; a reader that knows no blocks
// (WinINet's own matching) matches them against nothing, and the range then
// goes through the tunnel, which leaks nothing.
//
// The list travels as the system settings take it, ";"-separated. The
// Mozilla family (Firefox through its extension, Netscape) reads
// comma-separated hosts, ".domain" suffixes and address blocks, so the list
// (the user's own entries included) is turned into that form for them.
#pragma once

#include <string>
#include <vector>

namespace umbrane {

// localhost (this machine by definition, never looked up), 127/8, 10/8,
// 172.16/12, 192.168/16, 169.254/16, and IPv6 loopback, link-local and
// unique-local.
inline constexpr const char* kLocalBypass =
    "localhost;127.0.0.0/8;10.0.0.0/8;172.16.0.0/12;192.168.0.0/16;169.254.0.0/16;[::1];"
    "fe80::/10;fc00::/7";

// The entries of a list, cut at ";" (also "," and white space), empty ones
// dropped.
std::vector<std::string> BypassEntries(const std::string& list);

// `ours` followed by the entries of `users` it does not hold yet (letter
// case aside), ";"-separated.
std::string MergeBypass(const std::string& ours, const std::string& users);

// The list in the form the Mozilla family reads, ","-separated: "127.*"
// becomes "127.0.0.0/8", "[fe8*]" becomes "[fe80::]/12", "fe80::/10"
// becomes "[fe80::]/10", "*.corp" becomes ".corp"; a pattern that has no
// such form is left out.
std::string MozillaBypass(const std::string& list);

}  // namespace umbrane
