// The relays an agent may use, each known by its address, port and the
// pins of its TLS key: the build's list, or a newer one that the update
// service signed. One text form for both, also the file the agent reads:
//
//   ADDRESS:PORT=PIN|PIN,ADDRESS:PORT=PIN
//
// entries separated by commas or line ends; a build that trusts the
// system's roots may leave out "=PINS".
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace umbrane {

struct RelayEntry {
  std::string address;  // IPv4, dotted
  std::uint16_t port = 0;
  std::vector<std::string> pins;  // base64 SHA-256 of the key, any one matches

  std::string Name() const { return address + ":" + std::to_string(port); }
};

// More relays than any user needs, and few enough that trying them all
// stays quick.
inline constexpr std::size_t kMostRelays = 32;
inline constexpr std::size_t kMostPinsPerRelay = 4;

// The file in the user's folder that holds the update service's list: the
// program writes it, the agent reads it.
inline constexpr char kRelayListFile[] = "relays.txt";

// The list, or nothing with `problem` saying what is wrong: an address that
// is not IPv4, a port not 1 to 65535, a pin that is not the base64 of 32
// bytes, the same relay twice, no relay or more than kMostRelays.
std::optional<std::vector<RelayEntry>> ParseRelayList(std::string_view text, std::string& problem);

// The list's text, one entry per line: what ParseRelayList reads back.
std::string RelayListText(const std::vector<RelayEntry>& relays);

}  // namespace umbrane
