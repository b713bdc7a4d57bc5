// umbrane.exe with the real agent under Wine: the relay is Squid on the
// loopback, and a request through the system proxy's address reaches a
// local web server (the update service's pages) by way of the relay.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include "Folders.h"
#include "ProgramDriver.h"
#include "UpdateService.h"
#include "app/Commands.h"
#include "proxy/SystemProxy.h"
#include "win32/Win32InternetSettings.h"
#include "win32/Win32ProcessList.h"

namespace umbrane::e2e {
namespace {

using testing::ScratchFolder;
using testing::SetUpdateService;
using testing::WaitFor;

// A request for `path` on 127.0.0.1:8808, sent the way a WinINet client
// with the system proxy "127.0.0.1:7070" sends it: an HTTP proxy request.
std::string FetchThroughLocalProxy(const std::string& path) {
  WSADATA data;
  (void)WSAStartup(MAKEWORD(2, 2), &data);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  DWORD limit = 10000;
  setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&limit), sizeof limit);
  sockaddr_in proxy = {};
  proxy.sin_family = AF_INET;
  proxy.sin_port = htons(7070);
  proxy.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(s, reinterpret_cast<sockaddr*>(&proxy), sizeof proxy) == 0) {
    const std::string get = "GET http://127.0.0.1:8808" + path +
                            " HTTP/1.1\r\nHost: 127.0.0.1:8808\r\nConnection: close\r\n\r\n";
    send(s, get.data(), static_cast<int>(get.size()), 0);
    char buffer[4096];
    int n;
    while ((n = recv(s, buffer, sizeof buffer, 0)) > 0) {
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
  closesocket(s);
  return answer;
}

TEST(RealAgent, AWinInetStyleRequestTravelsAgentAndRelayToTheLocalServer) {
  testing::UpdateServiceReset reset;
  SetUpdateService("reply", "");  // pages served; the update asks for nothing
  ScratchFolder folder("umbrane-real-agent");
  Running umbrane;
  HWND main = StartAndConnectRealAgent(folder.Path(), umbrane);
  ASSERT_NE(main, nullptr) << "not on";
  EXPECT_EQ(MessagesAfterUpdate(),
            (std::vector<std::string>{"Searching Internet", "Connecting to Internet", "Identifying",
                                      "Connected to Internet", "Umbrane ON"}));
  const auto lan = win32::Win32InternetSettings().QueryConnection("");
  ASSERT_TRUE(lan);
  EXPECT_TRUE(IsOurProxy(*lan));

  const std::string page = FetchThroughLocalProxy("/through-the-tunnel");
  EXPECT_EQ(page.rfind("HTTP/1.1 200", 0), 0u) << page;
  const auto requests = testing::UpdateRequests();
  EXPECT_NE(std::find(requests.begin(), requests.end(), "/through-the-tunnel"), requests.end());

  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  EXPECT_EQ(WaitForExit(umbrane), 0u);
  EXPECT_TRUE(WaitFor([] {
    const auto names = win32::Win32ProcessList().Names();
    return std::find(names.begin(), names.end(), "warden.exe") == names.end();
  }));
}

}  // namespace
}  // namespace umbrane::e2e
