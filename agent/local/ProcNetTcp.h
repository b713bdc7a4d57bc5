// The kernel's table of TCP sockets as /proc/net/tcp and tcp6 write it.
#pragma once

#include <optional>
#include <string_view>

namespace warden {

// In the text of /proc/net/tcp or /proc/net/tcp6: the uid of the socket
// whose local address is `from` and whose remote address is `to`, both in
// that file's hexadecimal form ("0100007F:1B9E"); none when no line has them.
std::optional<unsigned long> SocketUid(std::string_view table, std::string_view from,
                                       std::string_view to);

}  // namespace warden
