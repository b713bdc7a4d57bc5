// The relay's pinned public key, fixed at build time (empty: the relay is
// verified by its certificate's chain and address instead).
#include "RelayChannel.h"

#ifndef WARDEN_RELAY_PIN
#define WARDEN_RELAY_PIN ""
#endif

std::string warden::RelayPin() {
  return WARDEN_RELAY_PIN;
}
