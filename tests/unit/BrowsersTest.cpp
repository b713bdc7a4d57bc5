// The browser steps behind SetBrowsersProxy: the system settings, the
// Firefox hand-off, Opera's PAC file and Netscape's user.js.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "BrowserHarness.h"
#include "proxy/BypassList.h"
#include "proxy/NetscapeProxy.h"
#include "proxy/OperaProxy.h"
#include "proxy/SystemProxy.h"

namespace umbrane {
namespace {

using namespace fakes;
using Calls = std::vector<std::string>;

TEST_F(Browsers, LanWithoutDialUpOtherwiseEveryDialUpConnection) {
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_EQ(internet.calls.front(), "Set[] 2 127.0.0.1:7070");
  internet.calls.clear();
  internet.dialUp = {"Office", "Home"};
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_EQ(internet.calls, (Calls{"Set[Office] 2 127.0.0.1:7070", "Refresh", "SettingsChanged",
                                   "Set[Home] 2 127.0.0.1:7070", "Refresh", "SettingsChanged"}));
}

TEST_F(Browsers, FirefoxHandOffForApplyRestoreAndBypass) {
  EXPECT_EQ(FirefoxHandOff(true, "127.0.0.1:7070", "usa", ""),
            "-1\r\n127.0.0.1\r\n7070\r\nusa\r\n\r\n");
  EXPECT_EQ(FirefoxHandOff(false, "", "", ""), "0\r\n\r\n\r\n\r\n\r\n");
  EXPECT_EQ(FirefoxHandOff(true, "127.0.0.1:7070", "usa", "intranet;*.local;10.*"),
            "-1\r\n127.0.0.1\r\n7070\r\nusa\r\nintranet,.local,10.0.0.0/8\r\n")
      << "the bypass list in the form Firefox reads";
  EXPECT_EQ(FirefoxHandOff(true, "localproxy", "usa", ""), "-1\r\n\r\nlocalproxy\r\nusa\r\n\r\n")
      << "without a colon the host is empty and the port the whole text";
}

TEST_F(Browsers, FirefoxIsLeftAloneWithoutTheExtension) {
  windows.titles = {"Mozilla Firefox"};
  windows.MakeFirefox(1);
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_TRUE(windows.keys.empty());
  registry.values[std::string(kFirefoxExtensionsKey) + "|" + kFirefoxExtensionId] = "";
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_TRUE(windows.keys.empty()) << "an empty registration is none";
}

TEST_F(Browsers, FirefoxGetsTheFileAndTheChordInItsOrder) {
  RegisterExtension();
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_EQ(HandOff(), "-1\r\n127.0.0.1\r\n7070\r\nusa\r\n\r\n");
  EXPECT_TRUE(windows.keys.empty()) << "no Firefox window: the file only";

  windows.titles = {"Program Manager", "Start Page - Mozilla Firefox"};
  windows.MakeFirefox(2);
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(HandOff(), "0\r\n\r\n\r\n\r\n\r\n");
  EXPECT_EQ(windows.keysWentTo, 2u);
  EXPECT_EQ(
      windows.keys,
      (std::vector<KeyStroke>{
          {0x11, false}, {0x10, false}, {0x48, false}, {0x11, true}, {0x10, true}, {0x48, true}}));
}

TEST_F(Browsers, NetscapeUserJsKeepsOtherPreferencesAndEndsWithOneSetOfProxyLines) {
  files.AddFile(kUserJs,
                "user_pref(\"browser.startup.homepage\", \"about:blank\");\r\n"
                "user_pref(\"network.proxy.http_port\", 8080);\r\n"
                "user_pref(\"network.proxy.http_ssl\", \"x\");\n"
                "user_pref(\"network.proxy.ssl_port\", 3129);\r\n"
                "user_pref(\"general.useragent\", \"a;b\");\r\n");
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_EQ(files.Content(kUserJs),
            "user_pref(\"browser.startup.homepage\", \"about:blank\");\r\n"
            "user_pref(\"general.useragent\", \"a;b\");\r\n"
            "user_pref(\"network.proxy.type\", 1);\r\n"
            "user_pref(\"network.proxy.http\", \"127.0.0.1\");\r\n"
            "user_pref(\"network.proxy.http_port\",7070);\r\n"
            "user_pref(\"network.proxy.ssl\", \"127.0.0.1\");\r\n"
            "user_pref(\"network.proxy.ssl_port\",7070);\r\n"
            "user_pref(\"network.proxy.no_proxies_on\", \"\");\r\n");
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(files.Content(kUserJs),
            "user_pref(\"browser.startup.homepage\", \"about:blank\");\r\n"
            "user_pref(\"general.useragent\", \"a;b\");\r\n"
            "user_pref(\"network.proxy.http_port\", 8080);\r\n"
            "user_pref(\"network.proxy.http_ssl\", \"x\");\r\n"
            "user_pref(\"network.proxy.ssl_port\", 3129);\r\n")
      << "the user's own proxy lines, HTTPS too, come back after the kept ones";

  files.AddFile(kUserJs, "user_pref(\"browser.startup.homepage\", \"about:blank\");\r\n");
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(files.Content(kUserJs),
            "user_pref(\"browser.startup.homepage\", \"about:blank\");\r\n"
            "user_pref(\"network.proxy.type\", 0);\r\n"
            "user_pref(\"network.proxy.http\", \"\");\r\n"
            "user_pref(\"network.proxy.http_port\",0);\r\n"
            "user_pref(\"network.proxy.ssl\", \"\");\r\n"
            "user_pref(\"network.proxy.ssl_port\",0);\r\n"
            "user_pref(\"network.proxy.no_proxies_on\", \"\");\r\n")
      << "nothing saved: the direct lines, with valid port lines";
}

TEST_F(Browsers, NetscapeBypassIsInTheMozillaForm) {
  EXPECT_NE(RewriteUserJs("", true, kLocalProxy, "intranet;*.local")
                .find("user_pref(\"network.proxy.no_proxies_on\", \"intranet,.local\");"),
            std::string::npos);
}

TEST_F(Browsers, NetscapeWithoutUserJsOrProfileWritesNothingButStillAsksToRestart) {
  files.AddFolder(std::string(kProfile) + "ab12cd.slt");
  processes.names = {"netscp.exe"};
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_FALSE(files.FileExists(kUserJs)) << "a profile without user.js keeps none";
  EXPECT_EQ(Notices(), Texts{"Please restart Netscape."});

  FakeFileSystem empty;
  files = empty;
  files.AddFolder(kRoaming);
  EXPECT_FALSE(GetNetscapeUserJsPath(files, system)) << "no profile: no path at all";
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_FALSE(files.FileExists("user.js"));
  EXPECT_EQ(dialogs.notices.size(), 2u) << "on every call, restore included";
}

TEST_F(Browsers, OperaIsPointedAtThePacFileOnceAndThePacCarriesTheState) {
  files.AddFile(kOperaIni,
                "[User Prefs]\r\nHome URL=about:blank\r\n[Proxy]\r\n"
                "Automatic Proxy Configuration URL=http://corp/proxy.pac\r\nUse HTTP=1\r\n");
  processes.names = {"opera.exe"};
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_EQ(profile.ReadString(kOperaIni, "Proxy", "Automatic Proxy Configuration URL", ""), kPac);
  EXPECT_EQ(profile.ReadString(kOperaIni, "User Prefs", "Home URL", ""), "about:blank");
  EXPECT_EQ(profile.ReadString(kOperaIni, "Proxy", "Use HTTP", ""), "1");
  EXPECT_EQ(files.Content(kPac),
            "function FindProxyForURL(url, host)\r\n{return \"PROXY 127.0.0.1:7070\";\r\n}\r\n");
  EXPECT_EQ(Notices(), Texts{"Please restart Opera."});

  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_EQ(dialogs.notices.size(), 1u) << "second apply: no notice";
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(files.Content(kPac), "");
  EXPECT_EQ(profile.ReadString(kOperaIni, "Proxy", "Automatic Proxy Configuration URL", ""),
            "http://corp/proxy.pac")
      << "the user's own address comes back";
  EXPECT_EQ(Notices(), (Texts{"Please restart Opera.", "Please restart Opera."}));

  files.AddFile(kOperaIni, "[Proxy]\r\n");
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(profile.ReadString(kOperaIni, "Proxy", "Automatic Proxy Configuration URL", ""), kPac)
      << "an empty address keeps pointing at the emptied PAC file";
}

// Any file naming "umbrane" counts as set, except the one beside the
// program that earlier versions wrote: Opera is moved to the user's own.
TEST_F(Browsers, OperaKeyNamingAnyUmbraneFileCountsAsSetButTheOneBesideTheProgram) {
  for (const std::string& before : {std::string("D:\\old\\umbrane.pac"), std::string(kOldPac)}) {
    files.AddFile(kOperaIni, "[Proxy]\r\nAutomatic Proxy Configuration URL=" + before + "\r\n");
    processes.names = {"opera.exe"};
    dialogs.notices.clear();
    browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
    const bool moved = before == kOldPac;
    EXPECT_EQ(profile.ReadString(kOperaIni, "Proxy", "Automatic Proxy Configuration URL", ""),
              moved ? kPac : before);
    EXPECT_EQ(dialogs.notices.size(), moved ? 1u : 0u) << before;
    browsers.SetBrowsersProxy(false, "", "", "");
  }
  EXPECT_FALSE(files.FileExists(kOldPac)) << "nothing is written beside the program";
}

TEST_F(Browsers, OperaWithoutItsSettingsFileGetsNoPacFile) {
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_FALSE(files.FileExists(kPac));
}

TEST_F(Browsers, WithFirefoxAndOperaRunningTheLaterProcessDecides) {
  files.AddFile(kOperaIni, "[Proxy]\r\n");
  files.AddFile(kUserJs, "");
  processes.names = {"opera.exe", "firefox.exe"};
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_TRUE(dialogs.notices.empty()) << "Firefox came later, so neither Opera nor Netscape";
  files.AddFile(kOperaIni, "[Proxy]\r\n");
  processes.names = {"firefox.exe", "opera.exe"};
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_EQ(Notices(), Texts{"Please restart Opera."});
}

TEST(BypassList, EachBrowserGetsTheListInTheFormItReads) {
  struct Case {
    const char* list;
    const char* mozilla;
  };
  for (const Case& c : std::vector<Case>{
           {"<local>;localhost", "<local>,localhost"},
           {"127.*;10.*;172.16.*;192.168.1.*",
            "127.0.0.0/8,10.0.0.0/8,172.16.0.0/16,192.168.1.0/24"},
           {"[::1];[fe8*];[fc*];fd00::/8;[fe80::]/10",
            "[::1],[fe80::]/12,[fc00::]/8,[fd00::]/8,[fe80::]/10"},
           {"*.corp.example, intranet\t10.1.2.3", ".corp.example,intranet,10.1.2.3"},
           {"*;10.*.1.*;300.*;1.2.3.4.*;*corp*;;", ""},  // no Mozilla form: left out
       }) {
    EXPECT_EQ(MozillaBypass(c.list), c.mozilla) << c.list;
  }
  EXPECT_EQ(MergeBypass("<local>;10.*", "*.corp;<LOCAL>; 10.*;printer"),
            "<local>;10.*;*.corp;printer");
  EXPECT_EQ(MergeBypass("", ""), "");
}

// What the program itself keeps off the tunnel can match an address and
// never a name: a pattern ("10.*", "<local>") would let a page name its
// images so that the browser fetches them around the tunnel. Only this
// machine's own name, address literals and address blocks.
TEST(BypassList, OursMatchesAddressesNeverNames) {
  const std::regex addressForm(
      R"(localhost|\[::1\]|(\d{1,3}\.){3}\d{1,3}/\d{1,2}|[0-9a-f:]*::/\d{1,3})");
  const std::vector<std::string> ours = BypassEntries(kLocalBypass);
  for (const std::string& entry : ours) {
    EXPECT_TRUE(std::regex_match(entry, addressForm)) << entry;
  }
  for (const char* range : {"127.0.0.0/8", "10.0.0.0/8", "172.16.0.0/12", "192.168.0.0/16",
                            "169.254.0.0/16", "fe80::/10", "fc00::/7"}) {
    EXPECT_NE(std::find(ours.begin(), ours.end(), range), ours.end()) << range;
  }
}

// A browser whose WebRTC can reveal the user's address is named with the
// first apply of a run, not with every one.
TEST_F(Browsers, WebRtcThatCanRevealTheAddressIsToldOnceARun) {
  registry.machineValues["Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\chrome.exe|"] =
      "C:\\chrome.exe";
  EXPECT_EQ(browsers.SetBrowsersProxy(true, kLocalProxy, "usa", kLocalBypass).webRtc.size(), 1u);
  EXPECT_TRUE(browsers.SetBrowsersProxy(true, kLocalProxy, "usa", kLocalBypass).webRtc.empty());
}

TEST_F(Browsers, TheLocalAddressesSkipTheTunnelInEveryBrowserAndTheUsersOwnExceptionsStay) {
  RegisterExtension();
  files.AddFile(kUserJs, "");
  internet.connections[""] = {kProxyTypeDirect, "", "*.corp.example;localhost", std::nullopt};
  internet.dialUp = {"Office"};
  internet.connections["Office"] = {kProxyTypeDirect, "", std::nullopt, std::nullopt};
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", kLocalBypass);
  EXPECT_EQ(internet.connections["Office"].bypass, kLocalBypass);
  internet.dialUp.clear();
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", kLocalBypass);  // on the LAN now
  EXPECT_EQ(internet.connections[""].bypass, std::string(kLocalBypass) + ";*.corp.example")
      << "the user's entries after the local list, none twice";
  const std::string mozilla = MozillaBypass(kLocalBypass);
  EXPECT_EQ(HandOff(), "-1\r\n127.0.0.1\r\n7070\r\nusa\r\n" + mozilla + "\r\n");
  EXPECT_NE(files.Content(kUserJs)->find("user_pref(\"network.proxy.no_proxies_on\", \"" + mozilla +
                                         "\");"),
            std::string::npos);
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(internet.connections[""].bypass, "*.corp.example;localhost") << "given back as it was";
}

}  // namespace
}  // namespace umbrane
