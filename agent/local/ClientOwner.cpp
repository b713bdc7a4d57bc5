// What both platforms' owner checks share (ClientOwnerWindows.cpp,
// ClientOwnerPosix.cpp; CMake chooses one).
#include "local/ClientOwner.h"

namespace warden {

bool ServesUnnamedClients() {
#if WARDEN_SERVE_UNNAMED
  return true;
#else
  return false;
#endif
}

}  // namespace warden
