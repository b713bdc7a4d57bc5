// Whose program a local client is. The local proxy carries this user's
// credentials and tunnel: another user's program on the same machine must
// not borrow them. The system names the owner of the client's end of an
// accepted loopback connection: natively the socket's uid (/proc/net/tcp),
// on Windows the user of the process that owns the TCP endpoint
// (GetExtendedTcpTable with owner PIDs, then the process token's user).
#pragma once

#include <string>

#include <asio.hpp>

#include "local/Admission.h"

namespace warden {

// Whether this build serves a client whose owner the system does not name:
// only a test build, where Wine names no owner of a host program.
bool ServesUnnamedClients();

// Opens what the check reads, before the first client: a check must never
// need a descriptor of its own, or a client that used up the descriptors
// would pass unchecked.
void PrepareOwnerCheck();

// The owner of the client's end `client` of a connection accepted on the
// local proxy's `proxy` (both as accept gave them: no call to ask).
OwnerVerdict OwnerOf(const asio::ip::tcp::endpoint& client, const asio::ip::tcp::endpoint& proxy);

}  // namespace warden
