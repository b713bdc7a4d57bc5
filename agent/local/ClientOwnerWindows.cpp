// Whose program a client is, on Windows: the TCP endpoint's owner process
// from the connection table, then the user of that process's token.
#include "local/ClientOwner.h"

#include <cstdio>
#include <cstring>
#include <optional>

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>
#include <sddl.h>

#include <vector>

#include "base/GrowingTable.h"

namespace warden {

using asio::ip::tcp;

namespace {

// The user SID of `token`'s owner, as text ("S-1-5-21-..."); empty when
// the system does not say.
std::string UserOf(HANDLE token) {
  DWORD size = 0;
  (void)GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  if (size == 0 || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
    return {};
  }
  char* text = nullptr;
  if (!ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &text)) {
    return {};
  }
  std::string sid = text;
  LocalFree(text);
  return sid;
}

std::string OurUser() {
  static const std::string user = [] {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) {
      return std::string();
    }
    std::string sid = UserOf(token);
    CloseHandle(token);
    return sid;
  }();
  return user;
}

// The process that owns the TCP endpoint `from` connected to `to`
// (0: none named), -1 when there is no such connection (any more), nothing
// when the table cannot be read.
std::optional<DWORD> OwningProcess(const tcp::endpoint& from, const tcp::endpoint& to) {
  const auto buffer = umbrane::ReadGrowingTable([](unsigned char* into, std::uint32_t* size) {
    DWORD asked = *size;
    const DWORD result =
        GetExtendedTcpTable(into, &asked, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
    *size = asked;
    return result == NO_ERROR                    ? umbrane::TableRead::Done
           : result == ERROR_INSUFFICIENT_BUFFER ? umbrane::TableRead::TooSmall
                                                 : umbrane::TableRead::Failed;
  });
  if (!buffer) {
    return std::nullopt;
  }
  const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer->data());
  const auto address = [](const tcp::endpoint& e) { return htonl(e.address().to_v4().to_uint()); };
  const auto port = [](DWORD p) { return ntohs(static_cast<u_short>(p)); };
  for (DWORD i = 0; i < table->dwNumEntries; ++i) {
    const MIB_TCPROW_OWNER_PID& row = table->table[i];
    if (row.dwLocalAddr == address(from) && port(row.dwLocalPort) == from.port() &&
        row.dwRemoteAddr == address(to) && port(row.dwRemotePort) == to.port()) {
      return row.dwOwningPid;
    }
  }
  return static_cast<DWORD>(-1);
}

}  // namespace

void PrepareOwnerCheck() {
  (void)OurUser();
}

OwnerVerdict OwnerOf(const tcp::endpoint& from, const tcp::endpoint& to) {
  if (!from.address().is_v4() || OurUser().empty()) {
    return {Owner::Unknown, "the agent's own user cannot be read"};
  }
  const std::optional<DWORD> pid = OwningProcess(from, to);
  if (!pid) {
    return {Owner::Unknown, "the system's table of connections cannot be read"};
  }
  if (*pid == static_cast<DWORD>(-1)) {
    return {Owner::Gone, {}};
  }
  if (*pid == 0) {
    // Listed, but with no process: Wine lists a host program's connection
    // so.
    return {Owner::Unknown, "the connection's process is not named"};
  }
  const std::string who = "process " + std::to_string(*pid);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, *pid);
  if (process == nullptr) {
    // Not even this much is granted on another user's process.
    return GetLastError() == ERROR_INVALID_PARAMETER ? OwnerVerdict{Owner::Gone, {}}
                                                     : OwnerVerdict{Owner::OtherUser, who};
  }
  HANDLE token = nullptr;
  std::string user;
  if (OpenProcessToken(process, TOKEN_QUERY, &token)) {
    user = UserOf(token);
    CloseHandle(token);
  }
  CloseHandle(process);
  if (user == OurUser()) {
    return {Owner::ThisUser, {}};
  }
  return {Owner::OtherUser, who + (user.empty() ? std::string() : " of " + user)};
}

}  // namespace warden
