// The relay's pinned public keys, fixed at build time: comma-separated
// (empty: the build trusts the system's roots, and the relay is verified by
// its certificate's chain and address instead).
#include "tls/RelayChannel.h"

#ifndef WARDEN_RELAY_PIN
#define WARDEN_RELAY_PIN ""
#endif
#ifndef WARDEN_RELAYS
#define WARDEN_RELAYS ""
#endif
#ifndef WARDEN_SYSTEM_ROOTS
#define WARDEN_SYSTEM_ROOTS 0
#endif

// Only a test build says so: a relay without pins is then verified by the
// system's roots and its address. Otherwise a relay is known by its key
// alone, and one without pins is never trusted.
bool warden::TrustsSystemRoots() {
  return WARDEN_SYSTEM_ROOTS != 0;
}

// The build's list of relays (RelayList's form); empty: the command line's
// relay alone.
std::string warden::BuildRelays() {
  return WARDEN_RELAYS;
}

std::vector<std::string> warden::RelayPins() {
  std::vector<std::string> pins;
  std::string_view rest = WARDEN_RELAY_PIN;
  while (!rest.empty()) {
    const std::size_t comma = std::min(rest.find(','), rest.size());
    if (comma > 0) {
      pins.emplace_back(rest.substr(0, comma));
    }
    rest.remove_prefix(std::min(comma + 1, rest.size()));
  }
  return pins;
}
