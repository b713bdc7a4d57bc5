#include <gtest/gtest.h>

#include "FakeFileSystem.h"
#include "FakePorts.h"
#include "FakeProfile.h"
#include "FakeTunnel.h"
#include "proxy/RestartNotice.h"
#include "proxy/SystemProxy.h"

namespace umbrane {
namespace {

using namespace fakes;
using Calls = std::vector<std::string>;

TEST(SystemProxy, ApplySetsOneProxyForEverySchemeThenReloads) {
  FakeInternetSettings internet;
  EXPECT_TRUE(SetConnectionProxy(internet, true, "", "127.0.0.1:7070", ""));
  EXPECT_EQ(internet.calls, (Calls{"Set[] 2 127.0.0.1:7070", "Refresh", "SettingsChanged"}));
}

TEST(SystemProxy, RestoreWritesDirectOnlyOverOurOwnSetting) {
  FakeInternetSettings internet;
  SetConnectionProxy(internet, true, "", kLocalProxy, "");
  internet.calls.clear();
  EXPECT_TRUE(SetConnectionProxy(internet, false, "", "ignored:1", ""));
  EXPECT_EQ(internet.calls, (Calls{"Set[] 1 socks=", "Refresh", "SettingsChanged"}));

  internet.connections[""] = {kProxyTypeProxy, "http=proxy.corp:8080", std::nullopt, std::nullopt};
  internet.calls.clear();
  EXPECT_TRUE(SetConnectionProxy(internet, false, "", "", ""));
  EXPECT_EQ(internet.calls, (Calls{"Refresh", "SettingsChanged"})) << "the user's proxy stays";
  EXPECT_EQ(internet.connections[""].proxyServer, "http=proxy.corp:8080");

  internet.connections[""] = {kProxyTypeProxy | kProxyTypeDirect, "socks=127.0.0.1:7070", {}, {}};
  EXPECT_TRUE(IsOurProxy(internet.connections[""]));
  EXPECT_FALSE(IsOurProxy({kProxyTypeDirect, "socks=127.0.0.1:7070", {}, {}}));
  EXPECT_FALSE(IsOurProxy({kProxyTypeProxy, "socks=127.0.0.1:7071", {}, {}}));
  EXPECT_TRUE(IsOurProxy({kProxyTypeProxy, "127.0.0.1:7070", {}, {}})) << "this version's form";
  EXPECT_FALSE(IsOurProxy({kProxyTypeProxy, "http=127.0.0.1:7070", {}, {}}));
}

TEST(SystemProxy, BypassIsSentOnlyWhenGivenAndUnchanged) {
  FakeInternetSettings internet;
  SetConnectionProxy(internet, true, "Office", kLocalProxy, "intranet;*.local");
  EXPECT_EQ(internet.calls.front(), "Set[Office] 2 127.0.0.1:7070 bypass=intranet;*.local");
  EXPECT_EQ(internet.connections.count(""), 0u) << "a named connection leaves the LAN alone";
}

TEST(SystemProxy, RefusedOptionsAreReportedAndTheReloadStillHappens) {
  FakeInternetSettings internet;
  internet.refuse = true;
  EXPECT_FALSE(SetConnectionProxy(internet, true, "", kLocalProxy, ""));
  EXPECT_EQ(internet.calls.size(), 3u);
}

TEST(DialUp, EveryActiveConnectionIsListedEvenBeyondTen) {
  FakeInternetSettings internet;
  std::vector<std::string> names;
  EXPECT_EQ(GetDialUpConnections(internet, names), 0);
  internet.dialUp = {"Office", "Home"};
  EXPECT_EQ(GetDialUpConnections(internet, names), 2);
  EXPECT_EQ(names, (std::vector<std::string>{"Office", "Home"}));
  internet.enumerations.clear();
  internet.dialUp.clear();
  for (int i = 0; i < 11; ++i) {
    internet.dialUp.push_back("Line " + std::to_string(i));
  }
  names.clear();
  EXPECT_EQ(GetDialUpConnections(internet, names), 11);
  EXPECT_EQ(names.back(), "Line 10");
  EXPECT_EQ(internet.enumerations, (std::vector<std::size_t>{10, 13}));
}

TEST(RestartNotice, FormatPlacesTheNameAsOftenAsAsked) {
  EXPECT_EQ(FormatText("Restart %s, then %s.", {"Opera", "Opera"}), "Restart Opera, then Opera.");
  EXPECT_EQ(FormatText("%1:s before %0:s", {"a", "b"}), "b before a");
  EXPECT_EQ(FormatText("100%% %s %d %s", {"x"}), "100% x %d %s") << "unknown or missing stay";
  EXPECT_EQ(FormatText("trailing %", {}), "trailing %");
}

TEST(RestartNotice, TextsComeFromTheCurrentLanguageOrTheFallback) {
  FakeFileSystem files;
  FakeProfile profile(files);
  FakeDialogs dialogs;
  FakeSystem system;
  system.executablePath = "C:\\Umbrane\\umbrane.exe";
  system.uiLanguage = 0x0407;
  const LanguageFiles lang = CurrentLanguageFiles(system);
  EXPECT_EQ(lang.current, "C:\\Umbrane\\lang\\0407.lng");
  EXPECT_EQ(lang.fallback, "C:\\Umbrane\\lang\\0409.lng");
  files.AddFile(lang.fallback, "[STRING]\r\nstrRestart=Restart %s (%s)\r\nstrOK=OK\r\n");
  files.AddFile(lang.current, "[STRING]\r\nstrOK=Gut\r\nstrRestart=\r\n");
  EXPECT_EQ(GetLangString(profile, lang, "strOK"), "Gut");
  EXPECT_EQ(GetLangString(profile, lang, "strRestart"), "Restart %s (%s)") << "empty falls back";
  EXPECT_EQ(GetLangString(profile, lang, "strMissing"), "");

  ShowRestartNotice(dialogs, profile, "C:\\Umbrane\\default.skn", lang, "Netscape");
  ASSERT_EQ(dialogs.notices.size(), 1u);
  EXPECT_EQ(dialogs.notices[0].caption, "Umbrane");
  EXPECT_EQ(dialogs.notices[0].buttonCaption, "Gut");
  EXPECT_EQ(dialogs.notices[0].text, "Restart Netscape (Netscape)");
}

}  // namespace
}  // namespace umbrane
