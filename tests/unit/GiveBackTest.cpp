// Apply saves what every browser held; restore gives it back wherever the
// setting is still the program's own, and never rewrites a file it could
// not read whole.
#include <gtest/gtest.h>

#include "BrowserHarness.h"
#include "proxy/BypassList.h"
#include "proxy/NetscapeProxy.h"
#include "proxy/SavedState.h"
#include "proxy/SystemProxy.h"

namespace umbrane {
namespace {

using namespace fakes;

constexpr const char* kUsersPac = "http://wpad.corp/proxy.pac";
constexpr const char* kUsersLines =
    "user_pref(\"browser.startup.page\", 0);\r\n"
    "user_pref(\"network.proxy.type\", 1);\r\n"
    "user_pref(\"network.proxy.http\", \"127.0.0.6\");\r\n"
    "user_pref(\"network.proxy.http_port\", 3128);\r\n";

class GiveBack : public Browsers {
 protected:
  const ConnectionProxy users{kProxyTypeProxy | kProxyTypeAutoDetect | kProxyTypeAutoProxyUrl,
                              "127.0.0.6:3128", "<local>", kUsersPac};

  void SetUp() override {
    Browsers::SetUp();
    internet.connections[""] = users;
    files.AddFile(kUserJs, kUsersLines);
    files.AddFile(kOperaIni, "[Proxy]\r\nAutomatic Proxy Configuration URL=http://corp/o.pac\r\n");
  }
  std::string StateFile() { return dataPath + kStateFileName; }
  std::optional<SavedBrowsers> State() {
    const auto text = files.Content(StateFile());
    return text ? ParseSavedBrowsers(*text) : std::nullopt;
  }
  std::string OperaUrl() {
    return profile.ReadString(kOperaIni, "Proxy", "Automatic Proxy Configuration URL", "");
  }
};

TEST(SavedState, AnyTextSurvivesTheFileAndGarbageIsNoState) {
  SavedBrowsers saved;
  saved.sections.push_back(
      {"Connection", {{"Name", "VPN = \\office\\"}, {"Bypass", "<local>;*.corp"}}});
  saved.sections.push_back(
      {"Netscape", {{"Line", "a=\"b\"\\n"}, {"Line", ""}, {"Line", "[Opera]"}}});
  saved.sections.push_back({"Opera", {{"Url", "line\r\nbreak"}}});
  saved.sections.push_back({"Netscape", {}});
  EXPECT_EQ(ParseSavedBrowsers(FormatSavedBrowsers(saved)), saved);
  EXPECT_EQ(saved.Find("Netscape")->All("Line"),
            (std::vector<std::string>{"a=\"b\"\\n", "", "[Opera]"}));
  EXPECT_FALSE(ParseSavedBrowsers(""));
  EXPECT_FALSE(ParseSavedBrowsers("127.0.0.1:7070\r\n")) << "the old marker's text";
}

TEST_F(GiveBack, EverySettingIsSavedBeforeTheFirstBrowserIsTouchedAndComesBack) {
  std::vector<std::string> notes;
  browsers.SetReporter([&](const std::string& note) { notes.push_back(note); });
  std::optional<bool> savedBeforeFirstSet;
  internet.beforeSet = [&] {
    if (!savedBeforeFirstSet) {
      savedBeforeFirstSet = State().has_value();
    }
  };
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_EQ(savedBeforeFirstSet, true);
  const auto state = State();
  ASSERT_TRUE(state);
  ASSERT_EQ(state->FindAll("Connection").size(), 1u);
  EXPECT_EQ(state->Find("Opera")->Get("Url"), "http://corp/o.pac");
  EXPECT_TRUE(IsOurProxy(internet.connections[""]));
  EXPECT_TRUE(IsOurUserJs(*files.Content(kUserJs)));

  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");  // the agent is ready again
  EXPECT_EQ(State(), state) << "a second apply keeps the first saved state";

  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(internet.connections[""], users) << "flags with auto-detect, bypass and script";
  EXPECT_EQ(files.Content(kUserJs), kUsersLines);
  EXPECT_EQ(OperaUrl(), "http://corp/o.pac");
  EXPECT_FALSE(files.FileExists(StateFile()));
  EXPECT_FALSE(browsers.HasSavedState());
  EXPECT_TRUE(notes.empty());
}

TEST_F(GiveBack, WhatTheUserChangedWhileOnIsLeftAlone) {
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  const ConnectionProxy changed{kProxyTypeProxy, "10.0.0.1:8080", std::nullopt, std::nullopt};
  internet.connections[""] = changed;
  files.AddFile(kUserJs, "user_pref(\"network.proxy.type\", 5);\r\n");
  profile.WriteString(kOperaIni, "Proxy", "Automatic Proxy Configuration URL", "http://new/");
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(internet.connections[""], changed);
  EXPECT_EQ(files.Content(kUserJs), "user_pref(\"network.proxy.type\", 5);\r\n");
  EXPECT_EQ(OperaUrl(), "http://new/");
  EXPECT_EQ(files.Content(kPac), "") << "the PAC file is the program's own";
}

TEST_F(GiveBack, WithoutSavedStateOnlyTheProgramsOwnSettingsChange) {
  browsers.SetBrowsersProxy(false, "", "", "");  // a close without ever connecting
  EXPECT_EQ(internet.connections[""], users);
  EXPECT_EQ(files.Content(kUserJs), kUsersLines);
  EXPECT_EQ(OperaUrl(), "http://corp/o.pac");
  EXPECT_TRUE(dialogs.notices.empty()) << "Opera's key was not taken over";

  internet.connections["Office"] = {kProxyTypeProxy, "socks=127.0.0.1:7070", {}, {}};
  internet.dialUp = {"Office"};
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(internet.connections["Office"].flags, kProxyTypeDirect) << "left on our proxy";

  // Found on the local proxy at apply (a dead run's): nothing of the user's
  // to save, and the restore sets it direct.
  internet.dialUp.clear();
  internet.connections[""] = {kProxyTypeProxy, "socks=127.0.0.1:7070", {}, {}};
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(internet.connections[""].flags, kProxyTypeDirect);
}

TEST_F(GiveBack, ConnectionsComeBackWhetherOrNotTheyAreStillActive) {
  internet.dialUp = {"Office"};
  internet.connections["Office"] = {kProxyTypeDirect, "", "", ""};
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  internet.dialUp = {"VPN"};  // Office hung up, a VPN came up
  internet.connections["VPN"] = {kProxyTypeDirect | kProxyTypeAutoDetect, "", "", ""};
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(internet.connections["Office"], (ConnectionProxy{kProxyTypeDirect, "", "", ""}));
  EXPECT_EQ(internet.connections["VPN"].flags, kProxyTypeDirect | kProxyTypeAutoDetect);
  EXPECT_EQ(internet.connections[""], users) << "the LAN was never touched";

  internet.dialUp.clear();
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");  // on the LAN now
  internet.dialUp = {"VPN"};
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(internet.connections[""], users) << "given back although a VPN is active";
}

TEST_F(GiveBack, TheNextStartRestoresFromTheFileAndAFailedRestoreKeepsIt) {
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  BrowserSwitch nextRun(ports, context);  // this run died with the browsers on
  ASSERT_TRUE(nextRun.HasSavedState());
  files.failingWrites.insert(kUserJs);
  nextRun.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(internet.connections[""], users);
  EXPECT_TRUE(files.FileExists(StateFile())) << "user.js is not back yet: try again later";
  files.failingWrites.clear();
  nextRun.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(files.Content(kUserJs), kUsersLines);
  EXPECT_FALSE(nextRun.HasSavedState());
}

TEST_F(GiveBack, AStateFileThatCannotBeWrittenCostsOnlyTheRecovery) {
  std::vector<std::string> notes;
  browsers.SetReporter([&](const std::string& note) { notes.push_back(note); });
  files.failingWrites.insert(StateFile());
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_EQ(notes[0].rfind("Can not save the browsers' settings: ", 0), 0u);
  EXPECT_TRUE(IsOurProxy(internet.connections[""])) << "the switch goes on";
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(internet.connections[""], users) << "given back from memory";
}

// The state file a dead run left, as the next start finds it. One with a
// byte-order mark (saved by an editor) is read; one that cannot be read is
// moved aside whole, never over an earlier one, and nothing is set back on
// a guess: the browsers keep what they hold and the user is told. One that
// cannot even be moved stays, and no apply writes over it.
TEST_F(GiveBack, AStateFileThatCannotBeReadIsKeptAndNothingIsSetOnAGuess) {
  const struct {
    const char* label;
    bool byteOrderMark;
    const char* text;  // instead of the saved state's
    bool readFails;
    bool moveFails;
    bool earlierAside;
  } cases[] = {
      {"byte-order mark", true, nullptr, false, false, false},
      {"not a state file", false, "not a state file\r\n", false, false, false},
      {"read fails", false, nullptr, true, false, false},
      {"an earlier one aside", false, "\xFF\xFE;\0", false, false, true},
      {"cannot be moved", false, "garbage", false, true, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.label);
    SetUp();
    files.failingReads.clear();
    files.failingRenames.clear();
    for (const std::string& name : {StateFile(), StateFile() + ".unreadable"}) {
      files.RemoveFile(name);
    }
    BrowserSwitch(ports, context).SetBrowsersProxy(true, kLocalProxy, "usa", "");  // dies while on
    const std::string saved = *files.Content(StateFile());
    const std::string left = c.text ? c.text : (c.byteOrderMark ? "\xEF\xBB\xBF" : "") + saved;
    files.AddFile(StateFile(), left);
    if (c.earlierAside) {
      files.AddFile(StateFile() + ".unreadable", "earlier");
    }
    if (c.readFails) {
      files.failingReads.insert(StateFile());
    }
    if (c.moveFails) {
      files.failingRenames.insert(StateFile());
    }
    const auto before = internet.connections[""];
    const std::string userJs = *files.Content(kUserJs);

    BrowserSwitch nextRun(ports, context);
    std::vector<std::string> notes;
    nextRun.SetReporter([&](const std::string& note) { notes.push_back(note); });
    ASSERT_TRUE(nextRun.HasSavedState());
    const SwitchOutcome outcome = nextRun.SetBrowsersProxy(false, "", "", "");
    if (c.byteOrderMark) {
      EXPECT_EQ(internet.connections[""], users);
      EXPECT_EQ(files.Content(kUserJs), kUsersLines);
      EXPECT_TRUE(outcome.unreadableState.empty());
      EXPECT_TRUE(notes.empty());
      EXPECT_FALSE(files.FileExists(StateFile()));
      continue;
    }
    EXPECT_EQ(internet.connections[""], before) << "nothing set direct on a guess";
    EXPECT_EQ(files.Content(kUserJs), userJs);
    ASSERT_FALSE(outcome.unreadableState.empty());
    EXPECT_EQ(notes, std::vector<std::string>{outcome.unreadableState});
    const std::string aside = StateFile() + (c.earlierAside ? ".unreadable-2" : ".unreadable");
    if (c.moveFails) {
      EXPECT_EQ(files.Content(StateFile()), left);
      EXPECT_FALSE(files.FileExists(aside));
      nextRun.SetBrowsersProxy(true, kLocalProxy, "usa", "");
      EXPECT_EQ(files.Content(StateFile()), left) << "never written over";
      nextRun.SetBrowsersProxy(false, "", "", "");
      EXPECT_EQ(internet.connections[""].flags, kProxyTypeDirect)
          << "connected again: the program's own setting, given back as usual";
      EXPECT_EQ(files.Content(StateFile()), left) << "nor removed";
      continue;
    }
    EXPECT_NE(outcome.unreadableState.find(aside), std::string::npos) << outcome.unreadableState;
    EXPECT_TRUE(nextRun.SetBrowsersProxy(false, "", "", "").unreadableState.empty()) << "told once";
    EXPECT_EQ(internet.connections[""], before) << "the exit's restore guesses no more";
    files.failingReads.clear();
    EXPECT_EQ(files.Content(aside), left) << "moved whole";
    EXPECT_FALSE(files.FileExists(StateFile()));
    EXPECT_FALSE(nextRun.HasSavedState());
    if (c.earlierAside) {
      EXPECT_EQ(files.Content(StateFile() + ".unreadable"), "earlier");
    }
  }
}

TEST_F(GiveBack, AUserJsThatCannotBeReadWholeIsNeverRewritten) {
  files.failingReads.insert(kUserJs);
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(files.Content(kUserJs), kUsersLines);
}

TEST_F(GiveBack, HotKeyOnlyWhenFirefoxIsReallyInFront) {
  RegisterExtension();
  windows.titles = {"Untitled - Notepad", "Mozilla Firefox"};
  windows.MakeFirefox(2);
  windows.refuseForeground = true;
  std::vector<std::string> notes;
  browsers.SetReporter([&](const std::string& note) { notes.push_back(note); });
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_TRUE(windows.keys.empty()) << "the chord must not land in another program";
  EXPECT_EQ(HandOff(), "-1\r\n127.0.0.1\r\n7070\r\nusa\r\n\r\n");
  ASSERT_EQ(notes.size(), 1u);
  EXPECT_NE(notes[0].find("Firefox"), std::string::npos);
}

// What an earlier version left behind when it was killed while on: its
// state file, the "socks=" system proxy and the four user.js lines beside
// the user's own HTTPS lines (which it neither saved nor removed).
TEST_F(GiveBack, TheStartAfterAnEarlierVersionDiedWhileOnGivesEverythingBack) {
  const std::string usersSsl = "user_pref(\"network.proxy.ssl\", \"127.0.0.6\");";
  files.AddFile(StateFile(),
                "; Umbrane: the browsers' settings before the tunnel\r\n[Connection]\r\nName=\r\n"
                "Flags=14\r\nProxyServer=127.0.0.6:3128\r\nBypass=<local>\r\n"
                "AutoConfigUrl=http://wpad.corp/proxy.pac\r\n[Netscape]\r\n"
                "Line=user_pref(\"network.proxy.type\", 1);\r\n"
                "Line=user_pref(\"network.proxy.http\", \"127.0.0.6\");\r\n"
                "Line=user_pref(\"network.proxy.http_port\", 3128);\r\n[Opera]\r\n"
                "Url=http://corp/o.pac\r\n");
  internet.connections[""] = {kProxyTypeProxy, "socks=127.0.0.1:7070", std::nullopt, std::nullopt};
  const std::string earlierLines =
      "user_pref(\"network.proxy.type\", 1);\r\nuser_pref(\"network.proxy.http\", "
      "\"127.0.0.1\");\r\n"
      "user_pref(\"network.proxy.http_port\",7070);\r\n"
      "user_pref(\"network.proxy.no_proxies_on\", \"\");\r\n";
  files.AddFile(kUserJs,
                "user_pref(\"browser.startup.page\", 0);\r\n" + usersSsl + "\r\n" + earlierLines);
  EXPECT_TRUE(IsOurProxy(internet.connections[""]));
  EXPECT_TRUE(IsOurUserJs(*files.Content(kUserJs)));

  BrowserSwitch nextRun(ports, context);
  ASSERT_TRUE(nextRun.HasSavedState());
  nextRun.SetBrowsersProxy(false, "", "", "");
  EXPECT_EQ(internet.connections[""], users);
  EXPECT_EQ(files.Content(kUserJs), "user_pref(\"browser.startup.page\", 0);\r\n" + usersSsl +
                                        "\r\n" +
                                        "user_pref(\"network.proxy.type\", 1);\r\n"
                                        "user_pref(\"network.proxy.http\", \"127.0.0.6\");\r\n"
                                        "user_pref(\"network.proxy.http_port\", 3128);\r\n")
      << "the user's HTTPS line stays where it was";
  EXPECT_FALSE(nextRun.HasSavedState());
}

// What an apply reads back, and what the watch sees change afterwards.
TEST_F(GiveBack, AnApplyReadsBackWhatTookAndChangesOutsideAreNamed) {
  RegisterExtension();
  internet.refuse = true;  // a proxy fixed by policy
  files.failingWrites.insert(kUserJs);
  SwitchOutcome outcome = browsers.SetBrowsersProxy(true, kLocalProxy, "usa", kLocalBypass);
  EXPECT_EQ(outcome.kept, std::vector<std::string>{"LAN"});
  EXPECT_EQ(outcome.notWritten, std::vector<std::string>{"Netscape"});

  internet.refuse = false;
  files.failingWrites.clear();
  outcome = browsers.SetBrowsersProxy(true, kLocalProxy, "usa", kLocalBypass);
  EXPECT_TRUE(outcome.AllTook());
  EXPECT_TRUE(browsers.ChangedOutside().empty());
  internet.connections[""] = {kProxyTypeProxy, "10.0.0.1:8080", std::nullopt, std::nullopt};
  files.AddFile(kUserJs, "user_pref(\"network.proxy.type\", 0);\r\n");
  EXPECT_EQ(browsers.ChangedOutside(), (std::vector<std::string>{"LAN", "Netscape"}));
  EXPECT_EQ(internet.connections[""].proxyServer, "10.0.0.1:8080") << "only read";
  browsers.SetBrowsersProxy(false, "", "", "");
  EXPECT_TRUE(browsers.ChangedOutside().empty()) << "nothing is watched while off";
}

}  // namespace
}  // namespace umbrane
