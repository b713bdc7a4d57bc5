// Whose program a client is, natively: the socket's uid, from the kernel's
// socket diagnostics or /proc/net/tcp.
#include "local/ClientOwner.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>

#include <fcntl.h>
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/sock_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "local/ProcNetTcp.h"

namespace warden {

using asio::ip::tcp;

namespace {

// What the check reads, opened once: the kernel's socket diagnostics
// (one exact lookup per client) and, where they are not offered,
// /proc/net/tcp and tcp6, read again from their start for each check (the
// kernel writes them anew). -1 for what cannot be opened.
struct Tables {
  int diag = -1;
  int tcp = -1;
  int tcp6 = -1;
};

Tables& OpenTables() {
  static Tables tables = [] {
    Tables opened{socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_SOCK_DIAG),
                  open("/proc/net/tcp", O_RDONLY | O_CLOEXEC),
                  open("/proc/net/tcp6", O_RDONLY | O_CLOEXEC)};
    // The kernel answers at once; should it not, a client must not stop
    // the agent.
    const timeval limit{1, 0};
    (void)setsockopt(opened.diag, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    return opened;
  }();
  return tables;
}

// The uid of the TCP socket whose own end is `from` and whose peer is `to`,
// asked of the kernel's socket diagnostics: 0 and found false when there is
// no such socket; nothing when the kernel would not answer.
std::optional<std::pair<bool, unsigned long> > DiagUid(int diag, const tcp::endpoint& from,
                                                       const tcp::endpoint& to, bool six) {
  struct {
    nlmsghdr header;
    inet_diag_req_v2 request;
  } ask{};
  ask.header.nlmsg_len = sizeof ask;
  ask.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
  ask.header.nlmsg_flags = NLM_F_REQUEST;
  static std::uint32_t sequence = 0;
  ask.header.nlmsg_seq = ++sequence;
  ask.request.sdiag_family = six ? AF_INET6 : AF_INET;
  ask.request.sdiag_protocol = IPPROTO_TCP;
  ask.request.idiag_states = ~0U;
  ask.request.id.idiag_sport = htons(from.port());
  ask.request.id.idiag_dport = htons(to.port());
  ask.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
  ask.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
  const auto put = [six](__be32* into, const asio::ip::address& address) {
    if (six) {
      const auto bytes = asio::ip::make_address_v6(asio::ip::v4_mapped, address.to_v4()).to_bytes();
      std::memcpy(into, bytes.data(), bytes.size());
    } else {
      const auto bytes = address.to_v4().to_bytes();
      std::memcpy(into, bytes.data(), bytes.size());
    }
  };
  put(ask.request.id.idiag_src, from.address());
  put(ask.request.id.idiag_dst, to.address());
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  if (sendto(diag, &ask, sizeof ask, 0, reinterpret_cast<sockaddr*>(&kernel), sizeof kernel) !=
      static_cast<ssize_t>(sizeof ask)) {
    return std::nullopt;
  }
  alignas(nlmsghdr) char answer[8192];
  const nlmsghdr* header = nullptr;
  // An answer to an earlier question that came too late is passed over.
  for (int tries = 0; tries < 4 && header == nullptr; ++tries) {
    const ssize_t n = recv(diag, answer, sizeof answer, 0);
    const auto* got = reinterpret_cast<const nlmsghdr*>(answer);
    if (n < static_cast<ssize_t>(sizeof(nlmsghdr)) || !NLMSG_OK(got, static_cast<unsigned>(n))) {
      return std::nullopt;
    }
    if (got->nlmsg_seq == ask.header.nlmsg_seq) {
      header = got;
    }
  }
  if (header == nullptr) {
    return std::nullopt;
  }
  if (header->nlmsg_type == NLMSG_ERROR) {
    const auto* error = static_cast<const nlmsgerr*>(NLMSG_DATA(header));
    if (error->error == -ENOENT) {
      return std::make_pair(false, 0UL);
    }
    return std::nullopt;
  }
  if (header->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
      header->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg))) {
    return std::nullopt;
  }
  return std::make_pair(
      true,
      static_cast<unsigned long>(static_cast<const inet_diag_msg*>(NLMSG_DATA(header))->idiag_uid));
}

// The whole table behind `fd`, or nothing when it cannot be read.
std::optional<std::string> ReadAll(int fd) {
  if (fd < 0 || lseek(fd, 0, SEEK_SET) != 0) {
    return std::nullopt;
  }
  std::string text;
  char chunk[64 * 1024];
  ssize_t n;
  while ((n = read(fd, chunk, sizeof chunk)) > 0) {
    text.append(chunk, static_cast<std::size_t>(n));
  }
  if (n < 0) {
    return std::nullopt;
  }
  return text;
}

// An endpoint as /proc/net/tcp writes it: the address's bytes read as
// this machine's 32-bit words, in hexadecimal, then the port.
std::string Hex(const tcp::endpoint& endpoint, bool six) {
  unsigned char bytes[16] = {};
  std::size_t size = 4;
  if (endpoint.address().is_v4() && !six) {
    const auto v4 = endpoint.address().to_v4().to_bytes();
    std::memcpy(bytes, v4.data(), 4);
  } else {
    const auto v6 =
        endpoint.address().is_v4()
            ? asio::ip::make_address_v6(asio::ip::v4_mapped, endpoint.address().to_v4()).to_bytes()
            : endpoint.address().to_v6().to_bytes();
    std::memcpy(bytes, v6.data(), 16);
    size = 16;
  }
  std::string hex;
  char word[9];
  for (std::size_t i = 0; i < size; i += 4) {
    std::uint32_t value;
    std::memcpy(&value, bytes + i, 4);
    std::snprintf(word, sizeof word, "%08X", static_cast<unsigned>(value));
    hex += word;
  }
  char port[6];
  std::snprintf(port, sizeof port, "%04X", static_cast<unsigned>(endpoint.port()));
  return hex + ":" + port;
}

}  // namespace

void PrepareOwnerCheck() {
  (void)OpenTables();
}

OwnerVerdict OwnerOf(const tcp::endpoint& from, const tcp::endpoint& to) {
  const Tables& tables = OpenTables();
  if (tables.diag < 0 && tables.tcp < 0) {
    return {Owner::Unknown, "neither the socket diagnostics nor /proc/net/tcp can be opened"};
  }
  // A client on an IPv4 socket is known as such; one on an IPv6 socket that
  // reached 127.0.0.1 by its mapped address as an IPv6 one. A kernel that
  // names nobody now (a table that cannot be read) gets the client refused.
  std::optional<unsigned long> uid;
  for (const bool six : {false, true}) {
    if (const auto found = tables.diag >= 0 ? DiagUid(tables.diag, from, to, six) : std::nullopt) {
      if (found->first) {
        uid = found->second;
        break;
      }
      continue;
    }
    if (const auto table = ReadAll(six ? tables.tcp6 : tables.tcp)) {
      uid = SocketUid(*table, Hex(from, six), Hex(to, six));
      if (uid) {
        break;
      }
    }
  }
  if (!uid) {
    return {Owner::Gone, {}};
  }
  if (*uid == geteuid()) {
    return {Owner::ThisUser, {}};
  }
  return {Owner::OtherUser, "uid " + std::to_string(*uid)};
}

}  // namespace warden
