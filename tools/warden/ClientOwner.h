// Whose program a local client is. The local proxy carries this user's
// credentials and tunnel: another user's program on the same machine must
// not borrow them. The system names the owner of the client's end of an
// accepted loopback connection: natively the socket's uid (/proc/net/tcp),
// on Windows the user of the process that owns the TCP endpoint
// (GetExtendedTcpTable with owner PIDs, then the process token's user).
#pragma once

#include <string>

#include <asio.hpp>

namespace warden {

enum class Owner {
  ThisUser,   // a program of the user who started the agent
  OtherUser,  // anyone else: refused before a byte reaches the relay
  Gone,       // the client's end is no longer there: nothing to serve
  Unknown,    // the system does not say
};

struct OwnerVerdict {
  Owner owner = Owner::Unknown;
  std::string who;  // the other user, for the log ("uid 1001"), or why unknown
};

// Opens what the check reads, before the first client: a check must never
// need a descriptor of its own, or a client that used up the descriptors
// would pass unchecked.
void PrepareOwnerCheck();

// The owner of the client's end `client` of a connection accepted on the
// local proxy's `proxy` (both as accept gave them: no call to ask).
OwnerVerdict OwnerOf(const asio::ip::tcp::endpoint& client, const asio::ip::tcp::endpoint& proxy);

}  // namespace warden
