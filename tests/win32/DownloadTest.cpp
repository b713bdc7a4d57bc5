// The download worker's own fetch against the local update service under
// Wine.
#include <gtest/gtest.h>
#include <winsock2.h>
#include <windows.h>

#include <atomic>

#include "Folders.h"
#include "UpdateService.h"
#include "update/Download.h"
#include "update/UpdateReply.h"
#include "win32/Win32Download.h"
#include "win32/Win32InternetSettings.h"

namespace umbrane::win32 {
namespace {

using testing::ScratchFolder;
using testing::SetUpdateService;
using testing::UpdateServiceReset;

constexpr const char* kUrl = "https://localhost:8808/soa/update.php?id=1&sn=a%20b";

TEST(Win32Download, FetchesTheServicesReplyIntoAFile) {
  UpdateServiceReset reset;
  SetUpdateService("reply", "[Update]\r\nNewVersion=1\r\n", "unsigned");
  ScratchFolder folder("umbrane-download");
  Win32UrlFetcher fetcher(BuiltUpdatePins());
  std::string why;
  ASSERT_TRUE(fetcher.Fetch(kUrl, folder.Path() + "fladdm.temp", why));
  EXPECT_EQ(Win32FileSystem().ReadFile(folder.Path() + "fladdm.temp"),
            "[Update]\r\nNewVersion=1\r\n");
  const auto requests = testing::UpdateRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0], "/soa/update.php?id=1&sn=a%20b") << "the query arrives as sent";
}

// The raw answer of the update service to one GET, headers included.
std::string RawAnswer(const char* target) {
  WSADATA wsa;
  (void)WSAStartup(MAKEWORD(2, 2), &wsa);
  SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in address = {};
  address.sin_family = AF_INET;
  address.sin_port = htons(8809);  // the same answers in plain HTTP
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  std::string answer;
  if (connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0) {
    const std::string request = std::string("GET ") + target + " HTTP/1.0\r\n\r\n";
    (void)send(s, request.data(), static_cast<int>(request.size()), 0);
    char buffer[4096];
    for (int n; (n = recv(s, buffer, sizeof buffer, 0)) > 0;) {
      answer.append(buffer, static_cast<std::size_t>(n));
    }
  }
  (void)closesocket(s);
  return answer;
}

// The service is known by its TLS key before the request leaves: a stand-in
// with a certificate from a root the machine trusts, but another key,
// learns nothing (not even that there was a request), unless the build
// trusts the system's roots instead of pins.
TEST(Win32Download, AServiceWithoutThePinnedKeyReceivesNoRequest) {
  UpdateServiceReset reset;
  struct Case {
    const char* mode;
    bool pinned;
    bool fetched;
  };
  for (const Case c :
       {Case{"impostor", true, false}, Case{"untrusted", true, false}, Case{"reply", true, true},
        Case{"impostor", false, true}, Case{"untrusted", false, false}}) {
    SetUpdateService(c.mode, "[Update]\r\n", "unsigned");
    ScratchFolder folder("umbrane-download");
    Win32UrlFetcher fetcher(c.pinned ? BuiltUpdatePins() : std::vector<std::string>{});
    std::string why;
    EXPECT_EQ(fetcher.Fetch(kUrl, folder.Path() + "fladdm.temp", why), c.fetched)
        << c.mode << c.pinned;
    EXPECT_EQ(testing::UpdateRequests().size(), c.fetched ? 1u : 0u) << c.mode << c.pinned;
    EXPECT_EQ(why.empty(), c.fetched) << c.mode << c.pinned << why;
  }
}

// With a proxy in the LAN's settings the fetch asks it for a tunnel, and
// the service is still known by its key at the tunnel's end.
TEST(Win32Download, TheLansProxyCarriesTheFetch) {
  UpdateServiceReset reset;
  SetUpdateService("reply", "[Update]\r\n", "unsigned");
  std::string error;
  (void)Win32FileSystem().WriteFile(testing::UpdateStateFile("tunnels"), "", WriteMode::Replace,
                                    error);
  Win32InternetSettings internet;
  const auto before = internet.QueryConnection("");
  ASSERT_TRUE(
      internet.SetConnection("", {kProxyTypeDirect | kProxyTypeProxy, "127.0.0.1:8809", "", {}}));
  ScratchFolder folder("umbrane-download");
  Win32UrlFetcher fetcher(BuiltUpdatePins(), &internet);
  std::string why;
  const bool fetched =
      fetcher.Fetch("https://update.test:8808/soa/update.php?id=7", folder.Path() + "r", why);
  (void)internet.SetConnection("", before.value_or(ConnectionProxy{}));
  EXPECT_TRUE(fetched) << why;
  EXPECT_EQ(Win32FileSystem().ReadFile(testing::UpdateStateFile("tunnels")), "update.test:8808\n");
  EXPECT_EQ(testing::UpdateRequests(), std::vector<std::string>{"/soa/update.php?id=7"});
}

TEST(Win32Download, TheReplyWithItsTokenIsNeverCachedOnTheWay) {
  UpdateServiceReset reset;
  SetUpdateService("reply", "[Update]\r\nKey=abc\r\n");
  const std::string answer = RawAnswer("/soa/update.php?id=1");
  EXPECT_NE(answer.find("\r\nCache-Control: no-store\r\n"), std::string::npos) << answer;
}

TEST(Win32Download, AServiceThatIsDownIsAFailure) {
  UpdateServiceReset reset;
  SetUpdateService("down");
  ScratchFolder folder("umbrane-download");
  Win32UrlFetcher fetcher(BuiltUpdatePins());
  Win32MessagePump pump;
  EXPECT_FALSE(DownloadToFile(fetcher, pump, kUrl, folder.Path() + "fladdm.temp"));
  EXPECT_FALSE(
      DownloadToFile(fetcher, pump, "http://127.0.0.1:1/none", folder.Path() + "fladdm.temp"))
      << "nothing listening";
}

std::atomic<int> ticks{0};
void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD) {
  ++ticks;
}

TEST(Win32Download, TimersKeepFiringWhileTheWorkerWaitsForASlowService) {
  UpdateServiceReset reset;
  SetUpdateService("slow 1", "[Update]\r\n");
  ScratchFolder folder("umbrane-download");
  Win32UrlFetcher fetcher(BuiltUpdatePins());
  Win32MessagePump pump;
  ticks = 0;
  const UINT_PTR timer = SetTimer(nullptr, 0, 50, &Tick);
  EXPECT_TRUE(DownloadToFile(fetcher, pump, kUrl, folder.Path() + "fladdm.temp"));
  KillTimer(nullptr, timer);
  EXPECT_GE(ticks.load(), 5) << "a second of waiting dispatches the timer's messages";
}

}  // namespace
}  // namespace umbrane::win32
