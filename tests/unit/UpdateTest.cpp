// The download worker and the update check at start-up.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <thread>

#include "AppHarness.h"
#include "BuildConfig.h"
#include "app/Commands.h"
#include "tunnel/Cipher.h"
#include "tunnel/RelayList.h"
#include "update/Download.h"
#include "update/UpdateProxy.h"

namespace umbrane {
namespace {

using namespace fakes;
using Texts = std::vector<std::string>;

TEST(Download, EachCallReturnsItsOwnWorkersResult) {
  FakeFileSystem files;
  files.AddFolder("C:\\t");
  FakeFetcher fetcher(files);
  FakePump pump;
  fetcher.reply = "[Update]\r\n";
  EXPECT_TRUE(DownloadToFile(fetcher, pump, "http://u/1", "C:\\t\\a"));
  fetcher.reply.reset();
  EXPECT_FALSE(DownloadToFile(fetcher, pump, "http://u/2", "C:\\t\\b"));
  fetcher.reply = "";
  EXPECT_TRUE(DownloadToFile(fetcher, pump, "http://u/3", "C:\\t\\c"));
  EXPECT_EQ(fetcher.urls, (Texts{"http://u/1", "http://u/2", "http://u/3"}));
  fetcher.during = [] { throw std::runtime_error("boom"); };
  EXPECT_FALSE(DownloadToFile(fetcher, pump, "http://u/4", "C:\\t\\d")) << "an error is a failure";
}

TEST(Download, WindowMessagesAreHandledWhileTheWorkerFetches) {
  FakeFileSystem files;
  files.AddFolder("C:\\t");
  FakeFetcher fetcher(files);
  FakePump pump;
  fetcher.reply = "";
  std::atomic<bool> handled{false};
  bool sawIt = false;
  // The fetch lasts until a message has been handled on the waiting thread.
  fetcher.during = [&] {
    pump.Post([&] { handled = true; });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (!handled && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    sawIt = handled;
  };
  EXPECT_TRUE(DownloadToFile(fetcher, pump, "http://u", "C:\\t\\a"));
  EXPECT_TRUE(sawIt);
  EXPECT_EQ(pump.dispatched, 1);
}

// Told to quit during a fetch: the fetch is cancelled, and the wait ends
// soon whether the fetch heeds that or not (a service that never answers).
TEST(Download, AQuitCancelsTheFetchAndTheWaitEndsEvenIfTheFetchDoesNot) {
  for (const bool heeds : {true, false}) {
    FakeFileSystem files;
    files.AddFolder("C:\\t");
    FakeFetcher fetcher(files);
    FakePump pump;
    fetcher.reply = "[Update]\r\n";
    std::atomic<bool> release{false};
    fetcher.during = [&] {
      pump.PostQuit();
      while (!release && !(heeds && fetcher.cancelled)) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    };
    const auto asked = std::chrono::steady_clock::now();
    EXPECT_FALSE(DownloadToFile(fetcher, pump, "http://u", "C:\\t\\a")) << heeds;
    EXPECT_LT(std::chrono::steady_clock::now() - asked, std::chrono::seconds(3)) << heeds;
    EXPECT_TRUE(fetcher.cancelled) << heeds;
    EXPECT_FALSE(files.FileExists("C:\\t\\a")) << heeds;
    release = true;  // the worker left behind ends before the fakes go
    while (pump.wakes == 0) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
}

class Update : public ::testing::Test, public AppHarness {
 protected:
  const std::string reply = std::string(kHarnessTemp) + "fladdm.temp";

  void Start() {
    main.FormCreate();
    main.InitRun();
  }
  std::string Token(const std::string& plain) { return Cipher(plain, kTokenKey); }
};

TEST_F(Update, RequestCarriesMachineCustomerVersionAndLanguage) {
  system.machineId = -5;
  system.systemLanguage = 0x0407;
  EXPECT_EQ(main.UpdateRequestUrl(""),
            std::string(build::kUpdateUrl) + "?id=-5&sn=&version=4.01&language=1031");
  EXPECT_EQ(main.UpdateRequestUrl("ACME-7"),
            std::string(build::kUpdateUrl) + "?id=-5&sn=ACME-7&version=4.01&language=1031");
  EXPECT_EQ(main.UpdateRequestUrl("x&id=1 2"),
            std::string(build::kUpdateUrl) + "?id=-5&sn=x&id=1 2&version=4.01&language=1031");
}

TEST_F(Update, FailedFetchShowsOffAndEnablesConnect) {
  fetcher.reply.reset();
  Start();
  EXPECT_EQ(fetcher.urls.size(), 1u);
  EXPECT_EQ(Log(), (Texts{"SilentUpdate", "SilentUpdate Failed!"}));
  EXPECT_EQ(Tip(), "Umbrane OFF");
  EXPECT_EQ(tray.Named("Modify").back().record.infoFlags, 3u);
  EXPECT_TRUE(menu.Enabled(kCmdUmbrane1));
  EXPECT_TRUE(agents.started.empty());
}

TEST_F(Update, ReplyWithNeitherKeyLeavesTheBusyDisplay) {
  for (const char* answer : {"", "0"}) {
    AppHarness fresh;
    fresh.fetcher.reply = fresh.Reply(answer);
    fresh.main.FormCreate();
    fresh.main.InitRun();
    EXPECT_EQ(fresh.Log(), (Texts{"SilentUpdate", "SilentUpdate Successfully!"})) << answer;
    EXPECT_EQ(fresh.Tip(), "SilentUpdate. Please wait...");
    EXPECT_FALSE(fresh.menu.Enabled(kCmdUmbrane1));
    EXPECT_TRUE(fresh.agents.started.empty());
    EXPECT_TRUE(fresh.dialogs.boxes.empty());
    EXPECT_FALSE(fresh.files.FileExists(std::string(kHarnessTemp) + "fladdm.temp"));
  }
}

TEST_F(Update, ExitDuringTheDownloadEndsTheCheckWithoutActingOnItsReply) {
  fetcher.reply = Reply("1", Token("fresh-token"));
  std::atomic<bool> closed{false};
  // The user picks Exit while the worker is still fetching.
  fetcher.during = [&] {
    pump.Post([&] {
      main.FormClose();
      closed = true;
    });
    while (!closed) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  Start();
  EXPECT_EQ(Log(), (Texts{"SilentUpdate", "Closing..."}));
  EXPECT_TRUE(dialogs.boxes.empty());
  EXPECT_TRUE(shell.opened.empty()) << "no home page after the program closed";
  EXPECT_TRUE(agents.started.empty());
  EXPECT_NE(g.AccessToken, "fresh-token");
}

TEST_F(Update, AnUnwritableLogNeverStopsTheProgramAndIsToldOnce) {
  files.AddFolder(std::string(kHarnessData) + "log.txt");  // a folder stands in its place
  fetcher.reply = Reply("", Token("fresh-token"));
  // An event handled while the check waits for its reply shows no box
  // then: a box's own wait would hold the check until it is dismissed.
  std::size_t boxesDuringTheFetch = 99;
  fetcher.during = [&] {
    std::atomic<bool> handled{false};
    pump.Post([&] {
      main.Dispatch([] {});
      boxesDuringTheFetch = dialogs.errorBoxes.size();
      handled = true;
    });
    while (!handled) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  };
  Start();
  EXPECT_EQ(boxesDuringTheFetch, 0u);
  ASSERT_EQ(agents.started.size(), 1u) << "the update check went on and started the tunnel";
  EXPECT_EQ(dialogs.errorBoxes.size(), 1u);
  EXPECT_NE(dialogs.errorBoxes[0].second.find("log.txt"), std::string::npos);

  // The death of the agent while on still reconnects, with no box for it.
  agents.Last().Print("160138 ready\r\n");
  main.Dispatch([this] { timers.Advance(TfrmMain::kReadInterval); });
  agents.Last().Exit(1);
  main.Dispatch([this] { timers.Advance(TfrmMain::kReadInterval); });
  EXPECT_EQ(Tip(), "Umbrane OFF");
  main.Dispatch([this] { timers.Advance(5000); });
  EXPECT_EQ(agents.started.size(), 2u);
  EXPECT_EQ(dialogs.errorBoxes.size(), 1u) << "once a run";
  EXPECT_NE(g.LogLines->Text().find("] Wardden stopped on exception\r\n"), std::string::npos)
      << "every entry kept for the file";
}

TEST_F(Update, NewVersionIsAnnouncedThenTheHomePageOpens) {
  for (const char* value : {"1", "0x10", "$1", "-3"}) {
    AppHarness fresh;
    fresh.fetcher.reply = fresh.Reply(value);
    fresh.main.FormCreate();
    fresh.main.InitRun();
    ASSERT_EQ(fresh.dialogs.boxes.size(), 1u) << value;
    EXPECT_EQ(fresh.dialogs.boxes[0].text, "New Version of Umbrane is needed");
    EXPECT_EQ(fresh.dialogs.boxes[0].kind, MessageKind::Warning);
    ASSERT_EQ(fresh.shell.opened.size(), 1u);
    EXPECT_EQ(fresh.shell.opened[0].target, build::kHomePage);
    EXPECT_EQ(fresh.Balloon(), "New Version of Umbrane is needed");
    EXPECT_EQ(fresh.Tip(), "Umbrane OFF");
  }
  for (const char* value : {"0", "", "soon", "1.5"}) {
    AppHarness fresh;
    fresh.fetcher.reply = fresh.Reply(value);
    fresh.main.FormCreate();
    fresh.main.InitRun();
    EXPECT_TRUE(fresh.dialogs.boxes.empty()) << value;
  }
}

TEST_F(Update, KeyInstallsTheTokenAndStartsASessionWithoutTheUser) {
  fetcher.reply = Reply("", Token("n3w-T0ken"));
  Start();
  EXPECT_EQ(g.AccessToken, "n3w-T0ken");
  ASSERT_EQ(agents.started.size(), 1u);
  EXPECT_NE(agents.Last().commandLine.find(" -key n3w-T0ken -do "), std::string::npos);
  EXPECT_EQ(Log(), (Texts{"SilentUpdate", "SilentUpdate Successfully!"}));
  EXPECT_EQ(Tip(), "Connecting to Internet. Please wait...");
  EXPECT_FALSE(files.FileExists(reply));
  agents.Last().Print("160138\r\n");
  timers.Advance(TfrmMain::kReadInterval);
  EXPECT_EQ(Log().back(), "Umbrane ON") << "the agent's lines follow the update's";
}

TEST_F(Update, BothKeysAnnounceFirstThenConnect) {
  fetcher.reply = Reply("1", Token("tok"));
  main.FormCreate();
  calls.calls.clear();
  main.InitRun();
  EXPECT_EQ(calls.calls, (Texts{"Report SilentUpdate", "Status SilentUpdate. Please wait...",
                                "MessageBox New Version of Umbrane is needed",
                                "Status New Version of Umbrane is needed", "HoldPort 7070",
                                "Status Connecting to Internet. Please wait...", "StartAgent",
                                "Report SilentUpdate Successfully!"}));
  EXPECT_EQ(Tip(), "Connecting to Internet. Please wait...");
}

TEST_F(Update, TokenThatIsNotOneWordIsRefused) {
  fetcher.reply = Reply("", Token("a -say 203.0.113.9"));
  Start();
  EXPECT_EQ(g.AccessToken, kDefaultAccessToken);
  EXPECT_TRUE(agents.started.empty());
  EXPECT_EQ(Log(),
            (Texts{"SilentUpdate", "SilentUpdate refused an access token that is not one word",
                   "SilentUpdate Successfully!"}));
}

TEST_F(Update, AnAgentThatCannotStartEndsTheCheckAndKeepsTheReply) {
  fetcher.reply = Reply("", Token("tok"));
  agents.failNext = true;
  main.FormCreate();
  EXPECT_THROW(main.InitRun(), std::runtime_error);
  EXPECT_EQ(Log(), Texts{"SilentUpdate"});
  EXPECT_TRUE(files.FileExists(reply));
}

// Every way a reply can fail its rules: nothing of it counts, the log says
// why in one line, and the settings keep the number they had.
TEST(UpdateReply, ARefusedReplyChangesNothingAndTheLogSaysWhy) {
  using Change = std::function<void(UpdateReply&, std::string & signer, std::int64_t now)>;
  const auto none = [](UpdateReply&, std::string&, std::int64_t) {};
  struct Case {
    const char* name;
    Change before;  // changes the values that are signed
    Change after;   // changes them once signed
    Refusal refusal;
  };
  const Case cases[] = {
      {"unsigned", none, [](UpdateReply& r, auto&, auto) { r.signature.clear(); },
       Refusal::Unsigned},
      {"signature cut short", none, [](UpdateReply& r, auto&, auto) { r.signature.resize(84); },
       Refusal::NotASignature},
      {"signature too long", none,
       [](UpdateReply& r, auto&, auto) { r.signature = Base64(std::string(65, 'x')); },
       Refusal::NotASignature},
      {"signature not base64", none, [](UpdateReply& r, auto&, auto) { r.signature[5] = '*'; },
       Refusal::NotASignature},
      {"another key", [](auto&, std::string& signer, auto) { signer = "update-other.key"; }, none,
       Refusal::AnotherKey},
      {"token changed", none, [](UpdateReply& r, auto&, auto) { r.key = "TOK"; },
       Refusal::AnotherKey},
      {"serial raised", none, [](UpdateReply& r, auto&, auto) { r.serial = "999"; },
       Refusal::AnotherKey},
      {"another machine", [](UpdateReply& r, auto&, auto) { r.id = "42"; }, none,
       Refusal::AnotherMachine},
      {"another customer", [](UpdateReply& r, auto&, auto) { r.sn = "ACME"; }, none,
       Refusal::AnotherMachine},
      {"another version", [](UpdateReply& r, auto&, auto) { r.version = "4.02"; }, none,
       Refusal::AnotherMachine},
      {"expired", [](UpdateReply& r, auto&, auto now) { r.expires = std::to_string(now); }, none,
       Refusal::Expired},
      {"long expired",
       [](UpdateReply& r, auto&, auto now) {
         r.issued = std::to_string(now - 7200);
         r.expires = std::to_string(now - 3600);
       },
       none, Refusal::Expired},
      {"as old as the last", [](UpdateReply& r, auto&, auto) { r.serial = "41"; }, none,
       Refusal::Older},
      {"older", [](UpdateReply& r, auto&, auto) { r.serial = "7"; }, none, Refusal::Older},
      {"serial over 63 bits", [](UpdateReply& r, auto&, auto) { r.serial = "9223372036854775808"; },
       none, Refusal::OutOfBounds},
      {"serial negative", [](UpdateReply& r, auto&, auto) { r.serial = "-50"; }, none,
       Refusal::OutOfBounds},
      {"issued after it expires",
       [](UpdateReply& r, auto&, auto now) { r.issued = std::to_string(now + 7200); }, none,
       Refusal::OutOfBounds},
      {"token too long", [](UpdateReply& r, auto&, auto) { r.key.assign(1025, 'k'); }, none,
       Refusal::OutOfBounds},
      {"relay list not one", [](UpdateReply& r, auto&, auto) { r.relays = "192.0.2.7:65536"; },
       none, Refusal::NotARelayList},
  };
  for (const Case& c : cases) {
    AppHarness fresh;
    fresh.files.AddFile(std::string(kHarnessData) + "umbrane.ini", "[Update]\r\nSerial=41\r\n");
    UpdateReply reply = fresh.ReplyFor("1", Cipher("tok", kTokenKey));
    std::string signer = "update.key";
    c.before(reply, signer, fresh.clock.unixTime);
    reply.signature = Base64(Sign(SignedText(reply), signer));
    c.after(reply, signer, fresh.clock.unixTime);
    fresh.fetcher.reply = ReplyText(reply);
    fresh.main.FormCreate();
    fresh.main.InitRun();
    EXPECT_EQ(fresh.Log(),
              (Texts{"SilentUpdate", "SilentUpdate refused the reply: " + RefusalText(c.refusal),
                     "SilentUpdate Failed!"}))
        << c.name;
    EXPECT_TRUE(fresh.agents.started.empty()) << c.name;
    EXPECT_TRUE(fresh.dialogs.boxes.empty()) << c.name;
    EXPECT_TRUE(fresh.shell.opened.empty()) << c.name;
    EXPECT_EQ(fresh.g.AccessToken, kDefaultAccessToken) << c.name;
    EXPECT_EQ(fresh.Balloon(), "SilentUpdate Failed!") << c.name;
    EXPECT_EQ(fresh.files.Content(std::string(kHarnessData) + "umbrane.ini"),
              "[Update]\r\nSerial=41\r\n")
        << c.name;
    EXPECT_FALSE(fresh.files.Content(std::string(kHarnessData) + kRelayListFile)) << c.name;
  }
}

// A reply the backup key signed is acted on, its list of relays kept for
// the agent, and its number kept: the same reply later is a replay. A build
// that accepts unsigned replies acts on one as it stands.
TEST_F(Update, AnAcceptedReplysNumberIsKeptSoItsReplayIsRefused) {
  UpdateReply accepted = ReplyFor("", Token("n3w-T0ken"));
  const std::string pin = "sk4P5mlGGOkCCA2nuX95tmSoPSmTxvF6PC8qW1gtD/w=";
  accepted.relays = "192.0.2.7:443=" + pin + ", 198.51.100.9:80=" + pin + "|" + pin;
  const std::string backupSigned = SignedReply(accepted, "update-backup.key");
  fetcher.reply = backupSigned;
  Start();
  EXPECT_EQ(g.AccessToken, "n3w-T0ken");
  EXPECT_EQ(files.Content(std::string(kHarnessData) + kRelayListFile),
            "192.0.2.7:443=" + pin + "\n198.51.100.9:80=" + pin + "|" + pin + "\n");
  EXPECT_EQ(profile.ReadString(std::string(kHarnessData) + "umbrane.ini", "Update", "Serial", ""),
            "42");

  AppHarness later;
  const std::string settings = std::string(kHarnessData) + "umbrane.ini";
  later.files.AddFolder(kHarnessData);  // the same user's settings, a later run
  later.files.AddFile(settings, files.Content(settings).value_or(""));
  later.fetcher.reply = backupSigned;
  later.main.FormCreate();
  later.main.InitRun();
  EXPECT_TRUE(later.agents.started.empty());
  EXPECT_EQ(later.Log(),
            (Texts{"SilentUpdate", "SilentUpdate refused the reply: " + RefusalText(Refusal::Older),
                   "SilentUpdate Failed!"}));

  // A build that accepts unsigned replies (and has no key) acts on one as
  // it stands, and on a signed one alike.
  for (const bool signedReply : {false, true}) {
    AppHarness unsignedBuild;
    unsignedBuild.main.updateTrust = {{}, true};
    unsignedBuild.fetcher.reply = signedReply ? unsignedBuild.Reply("", Token("tok"))
                                              : "[Update]\r\nKey=" + Token("tok") + "\r\n";
    unsignedBuild.main.FormCreate();
    unsignedBuild.main.InitRun();
    EXPECT_EQ(unsignedBuild.agents.started.size(), 1u) << signedReply;
  }
}

// The update check goes through the LAN's proxy as the browsers would,
// unless the bypass list names the service or the service is this machine.
TEST(UpdateProxy, TheLansProxyUnlessBypassed) {
  const unsigned manual = kProxyTypeDirect | kProxyTypeProxy;
  struct Case {
    ConnectionProxy lan;
    const char* host;
    bool secure;
    std::optional<std::string> proxy;
  };
  const Case cases[] = {
      {{kProxyTypeDirect, "p:8080", "", {}}, "up.example", true, std::nullopt},
      {{manual, "p:8080", "", {}}, "up.example", true, "p:8080"},
      {{manual, "", "", {}}, "up.example", true, std::nullopt},
      {{manual, "http=h:80;https=s:443", "", {}}, "up.example", true, "s:443"},
      {{manual, "http=h:80;https=s:443", "", {}}, "up.example", false, "h:80"},
      {{manual, "ftp=f:21", "", {}}, "up.example", true, std::nullopt},
      {{manual, "p:8080", "*.EXAMPLE;intranet", {}}, "up.example", true, std::nullopt},
      {{manual, "p:8080", "*.corp", {}}, "up.example", true, "p:8080"},
      {{manual, "p:8080", "<local>", {}}, "updates", true, std::nullopt},
      {{manual, "p:8080", "<local>", {}}, "up.example", true, "p:8080"},
      {{manual, "p:8080", "", {}}, "localhost", true, std::nullopt},
      {{manual, "p:8080", "", {}}, "127.0.0.1", true, std::nullopt},
      {{kProxyTypeAutoProxyUrl, "", "", "http://wpad/p.pac"}, "up.example", true, std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProxyFor(c.lan, c.host, c.secure), c.proxy)
        << c.lan.proxyServer << " [" << c.lan.bypass.value_or("") << "] " << c.host;
  }
}

TEST_F(Update, TheCheckStopsThePollFirst) {
  fetcher.reply = "";
  main.FormCreate();
  main.InitSettings();
  main.InitInterface();
  main.OnCommand(kCmdUmbrane1);
  ASSERT_TRUE(timers.Running(TimerId::Read));
  main.SilentUpdate();
  EXPECT_FALSE(timers.Running(TimerId::Read));
}

}  // namespace
// The relays' list, as the build, the service and the agent's file give
// it: what is read back, or why not.
TEST(RelayList, EachEntryIsAnIpv4AddressAPortAndPinsOrTheListIsRefused) {
  const std::string pin = "sk4P5mlGGOkCCA2nuX95tmSoPSmTxvF6PC8qW1gtD/w=";
  std::string many;
  for (int i = 1; i <= 33; ++i) {
    many += "192.0.2." + std::to_string(i) + ":443,";
  }
  std::string problem;
  const auto read = ParseRelayList(
      " 192.0.2.7:443=" + pin + " ,\r\n\n0.0.0.0:65535=" + pin + "|" + pin + "\n", problem);
  ASSERT_TRUE(read) << problem;
  EXPECT_EQ(RelayListText(*read),
            "192.0.2.7:443=" + pin + "\n0.0.0.0:65535=" + pin + "|" + pin + "\n");
  for (const std::string& refused :
       {std::string(" , \n"), std::string("192.0.2.7"), std::string("192.0.2.256:80"),
        std::string("192.0.2:80"), std::string("192.0.2.07:80"), std::string("relay.example:80"),
        std::string("192.0.2.7:0"), std::string("192.0.2.7:65536"), std::string("192.0.2.7:80="),
        "192.0.2.7:80=" + pin + "|", "192.0.2.7:80=" + pin.substr(0, 42) + "x=" /* bits over */,
        "192.0.2.7:80=" + pin + "|" + pin + "|" + pin + "|" + pin + "|" + pin,
        "192.0.2.7:80,192.0.2.7:80=" + pin, many}) {
    problem.clear();
    EXPECT_FALSE(ParseRelayList(refused, problem)) << refused;
    EXPECT_FALSE(problem.empty()) << refused;
  }
}

}  // namespace umbrane
