// Tells the local update service (tools/update-service) how to answer, and
// reads what it was asked, through its state folder.
#pragma once

#include <winsock2.h>
#include <windows.h>

#include <string>
#include <vector>

#include "WaitFor.h"
#include "base/LineList.h"
#include "win32/Win32FileSystem.h"

namespace umbrane::testing {

inline bool PortOpen(unsigned short port) {
  WSADATA data;
  (void)WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET probe = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool open = connect(probe, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  closesocket(probe);
  return open;
}

inline std::string UpdateStateFile(const std::string& name) {
  return HostPath(UMBRANE_UPDATE_STATE) + "\\" + name;
}

// mode: reply | html | empty | error | drop | slow SECONDS | impostor |
// untrusted | down; signing: how a reply is signed (tools/update-service:
// "" signs it for the request, "unsigned", "other", "expired", ...).
// Returns when the service's port is open or closed as the mode says.
inline void SetUpdateService(const std::string& mode, const std::string& reply = "",
                             const std::string& signing = "") {
  win32::Win32FileSystem files;
  std::string error;
  (void)files.WriteFile(UpdateStateFile("reply.ini"), reply, WriteMode::Replace, error);
  (void)files.WriteFile(UpdateStateFile("signing"), signing, WriteMode::Replace, error);
  (void)files.WriteFile(UpdateStateFile("mode"), mode + "\n", WriteMode::Replace, error);
  (void)files.WriteFile(UpdateStateFile("requests"), "", WriteMode::Replace, error);
  const bool wantOpen = mode != "down";
  WaitFor([&] { return PortOpen(8808) == wantOpen; });
}

inline std::vector<std::string> UpdateRequests() {
  LineList lines;
  lines.SetText(win32::Win32FileSystem().ReadFile(UpdateStateFile("requests")).value_or(""));
  return lines.Lines();
}

// Puts the service back to down, as if there were none.
struct UpdateServiceReset {
  ~UpdateServiceReset() { SetUpdateService("down"); }
};

}  // namespace umbrane::testing
