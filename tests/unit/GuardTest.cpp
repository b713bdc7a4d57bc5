// The guard's part: the switch tells when the state is in place (so the
// guard starts before any browser changes), and after the program has ended
// the guard gives back from the state silently and adds to the log.
#include <gtest/gtest.h>

#include "BrowserHarness.h"
#include "app/Guard.h"
#include "proxy/SystemProxy.h"

namespace umbrane {
namespace {

using namespace fakes;

class Guard : public Browsers {
 protected:
  const ConnectionProxy users{kProxyTypeProxy, "127.0.0.6:3128", "", ""};
  FakeClock clock;
  std::string Log() { return files.Content(dataPath + "log.txt").value_or("<none>"); }

  void SetUp() override {
    Browsers::SetUp();
    internet.connections[""] = users;
    files.AddFile(kUserJs, "user_pref(\"network.proxy.type\", 0);\r\n");
  }
};

TEST_F(Guard, StartsOnceTheStateIsSavedBeforeAnyBrowserAndAgainOnEachApply) {
  std::vector<std::string> seen;
  browsers.SetStateSaved([&] {
    seen.push_back(std::string(files.FileExists(dataPath + kStateFileName) ? "saved" : "unsaved") +
                   (IsOurProxy(internet.connections[""]) ? " switched" : " untouched"));
    return std::string();
  });
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_EQ(seen, (std::vector<std::string>{"saved untouched", "saved switched"}));

  // No state file, no guard: it would have nothing to give back from. A
  // guard that cannot start is said in the log.
  browsers.SetBrowsersProxy(false, "", "", "");
  files.failingWrites.insert(dataPath + kStateFileName);
  std::vector<std::string> notes;
  browsers.SetReporter([&](const std::string& note) { notes.push_back(note); });
  browsers.SetStateSaved([] { return std::string("The system cannot find the file specified."); });
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  ASSERT_EQ(notes.size(), 1u) << "only the state file's failure";
  files.failingWrites.clear();
  browsers.SetBrowsersProxy(false, "", "", "");
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  EXPECT_EQ(notes.back(), "Can not start the guard: The system cannot find the file specified.");
}

TEST_F(Guard, AfterTheProgramEndedItGivesBackSilentlyAndAddsToTheLog) {
  processes.names = {"opera.exe", "netscp.exe"};  // restart notices, were anyone there
  files.AddFile(kOperaIni, "[Proxy]\r\nAutomatic Proxy Configuration URL=http://corp/o.pac\r\n");
  browsers.SetBrowsersProxy(true, kLocalProxy, "usa", "");
  dialogs.notices.clear();
  files.AddFile(dataPath + "log.txt", "[ run ] Umbrane ON\r\n");

  BrowserSwitch guardsSwitch(ports, context);  // the guard's own, from the file
  EXPECT_TRUE(GiveBackAfterProgramEnded(guardsSwitch, files, clock, dataPath));
  EXPECT_EQ(internet.connections[""], users);
  EXPECT_EQ(profile.ReadString(kOperaIni, "Proxy", "Automatic Proxy Configuration URL", ""),
            "http://corp/o.pac");
  EXPECT_FALSE(files.FileExists(dataPath + kStateFileName));
  EXPECT_TRUE(dialogs.notices.empty()) << "no dialog from the guard";
  EXPECT_EQ(Log(), "[ run ] Umbrane ON\r\n[ 09:05:03:042 2008/03/10 ] " +
                       std::string(kGuardRestored) + "\r\n");

  // The program gave everything back itself: nothing to do, nothing said.
  BrowserSwitch later(ports, context);
  internet.connections[""] = {kProxyTypeProxy, "127.0.0.9:80", "", ""};
  EXPECT_FALSE(GiveBackAfterProgramEnded(later, files, clock, dataPath));
  EXPECT_EQ(internet.connections[""].proxyServer, "127.0.0.9:80");
  EXPECT_EQ(Log().find(kGuardRestored), Log().rfind(kGuardRestored));

  // A state file it cannot read: nothing given back, and the log says why,
  // not that everything was.
  files.AddFile(dataPath + kStateFileName, "garbage");
  BrowserSwitch unreadable(ports, context);
  EXPECT_TRUE(GiveBackAfterProgramEnded(unreadable, files, clock, dataPath));
  EXPECT_EQ(internet.connections[""].proxyServer, "127.0.0.9:80");
  EXPECT_NE(Log().find("can not be read; nothing was set back"), std::string::npos);
  EXPECT_EQ(Log().find(kGuardRestored), Log().rfind(kGuardRestored));
}

}  // namespace
}  // namespace umbrane
