// A real browser engine through what the program wrote. While on, the LAN's
// proxy server and bypass texts are read back under Wine and handed to the
// host's headless Chromium (on Windows it reads them from there, with the
// same rules). Its own resolver answers no name but "intranet" and those
// under leak.example, as under DNS censorship: pages by name load only when
// the names are resolved at the relay (which alone knows www.umbrane.test),
// and a page's images named like a private range or by a plain name would
// reach the local service only by going around the tunnel.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>

#include "Folders.h"
#include "HostCommand.h"
#include "ProgramDriver.h"
#include "UpdateService.h"
#include "app/Commands.h"
#include "proxy/BypassList.h"
#include "proxy/SystemProxy.h"
#include "win32/Win32FileSystem.h"
#include "win32/Win32InternetSettings.h"

namespace umbrane::e2e {
namespace {

using testing::HostPath;
using testing::ScratchFolder;
using testing::WaitFor;

class RealBrowser : public ::testing::Test {
 protected:
  const std::string state = UMBRANE_BROWSER_STATE;
  win32::Win32FileSystem files;

  void Put(const std::string& name, const std::string& text) {
    std::string error;
    ASSERT_TRUE(files.WriteFile(HostPath(state + "/" + name), text, WriteMode::Replace, error));
  }
  std::string Read(const std::string& name) {
    return files.ReadFile(HostPath(state + "/" + name)).value_or("<none>");
  }
  void TearDown() override {
    (void)win32::Win32InternetSettings().SetConnection("", {kProxyTypeDirect, "", "", ""});
  }
};

TEST_F(RealBrowser, PagesByNameTravelTheTunnelAndNothingGoesAroundItByName) {
  testing::UpdateServiceReset reset;
  testing::SetUpdateService("reply", "");  // its pages are the sites; no token
  ScratchFolder folder("umbrane-browser");
  Running umbrane;
  HWND main = StartAndConnectRealAgent(folder.Path(), umbrane);
  ASSERT_NE(main, nullptr) << "not on";

  const auto lan = win32::Win32InternetSettings().QueryConnection("");
  ASSERT_TRUE(lan);
  std::printf("proxy server \"%s\", bypass \"%s\"\n", lan->proxyServer.c_str(),
              lan->bypass.value_or("<none>").c_str());
  EXPECT_EQ(lan->proxyServer.find("socks"), std::string::npos) << "read as SOCKS4: names leak";
  Put("proxy", lan->proxyServer);
  // Wine keeps no bypass list (nothing is stored and the query answers
  // empty): then the list is the one the program hands the system, which
  // the unit tests pin for every connection.
  Put("bypass", lan->bypass.value_or("").empty() ? kLocalBypass : *lan->bypass);
  Put("urls",
      "http http://www.umbrane.test:8809/by-name\n"
      "https https://www.umbrane.test:TLS/\n"
      "leak http://www.umbrane.test:8809/leak-page\n");
  ASSERT_TRUE(testing::RunOnHost(UMBRANE_BROWSER_SCRIPT, state, 60000));

  EXPECT_NE(Read("http.html").find("Umbrane test page"), std::string::npos) << Read("http.log");
  EXPECT_NE(Read("https.html").find("Umbrane secure page"), std::string::npos) << Read("https.log");
  EXPECT_NE(Read("leak.html").find("Umbrane leak page"), std::string::npos) << Read("leak.log");
  const auto requests = testing::UpdateRequests();
  EXPECT_NE(std::find(requests.begin(), requests.end(), "/by-name"), requests.end());
  const auto around = std::count_if(requests.begin(), requests.end(), [](const std::string& path) {
    return path.find("/leak-") == 0 && path != "/leak-page";
  });
  EXPECT_EQ(around, 0) << "requests by name went around the tunnel";

  ASSERT_TRUE(PostMessageA(main, WM_CLOSE, 0, 0));
  EXPECT_EQ(WaitForExit(umbrane), 0u);
}

}  // namespace
}  // namespace umbrane::e2e
