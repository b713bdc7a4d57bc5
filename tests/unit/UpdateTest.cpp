// The download worker and the update check at start-up.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "AppHarness.h"
#include "BuildConfig.h"
#include "app/Commands.h"
#include "tunnel/Cipher.h"
#include "update/Download.h"

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
            std::string(build::kUpdateUrl) + "?id=-5&sn=x%26id%3D1%202&version=4.01&language=1031");
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
  for (const char* answer :
       {"[Update]\r\nNewVersion=0\r\nKey=\r\n", "<html>not an INI</html>", ""}) {
    AppHarness fresh;
    fresh.fetcher.reply = answer;
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
  fetcher.reply = "[Update]\r\nNewVersion=1\r\nKey=" + Token("fresh-token") + "\r\n";
  std::atomic<bool> closed{false};
  // The user picks Exit while the worker is still fetching.
  fetcher.during = [&] {
    pump.Post([&] {
      if (main.CloseQuery()) {
        main.FormClose();
      }
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
  fetcher.reply = "[Update]\r\nKey=" + Token("fresh-token") + "\r\n";
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
    fresh.fetcher.reply = std::string("[Update]\r\nNewVersion=") + value + "\r\n";
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
    fresh.fetcher.reply = std::string("[Update]\r\nNewVersion=") + value + "\r\n";
    fresh.main.FormCreate();
    fresh.main.InitRun();
    EXPECT_TRUE(fresh.dialogs.boxes.empty()) << value;
  }
}

TEST_F(Update, KeyInstallsTheTokenAndStartsASessionWithoutTheUser) {
  fetcher.reply = "[Update]\r\nKey=" + Token("n3w-T0ken") + "\r\n";
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
  fetcher.reply = "[Update]\r\nKey=" + Token("tok") + "\r\nNewVersion=1\r\n";
  main.FormCreate();
  calls.calls.clear();
  main.InitRun();
  EXPECT_EQ(calls.calls, (Texts{"Report SilentUpdate", "Status SilentUpdate. Please wait...",
                                "MessageBox New Version of Umbrane is needed",
                                "Status New Version of Umbrane is needed",
                                "Status Connecting to Internet. Please wait...", "StartAgent",
                                "Report SilentUpdate Successfully!"}));
  EXPECT_EQ(Tip(), "Connecting to Internet. Please wait...");
}

TEST_F(Update, TokenThatIsNotOneWordIsRefused) {
  fetcher.reply = "[Update]\r\nKey=" + Token("a -say 203.0.113.9") + "\r\n";
  Start();
  EXPECT_EQ(g.AccessToken, kDefaultAccessToken);
  EXPECT_TRUE(agents.started.empty());
  EXPECT_EQ(Log(),
            (Texts{"SilentUpdate", "SilentUpdate refused an access token that is not one word",
                   "SilentUpdate Successfully!"}));
}

TEST_F(Update, AnAgentThatCannotStartEndsTheCheckAndKeepsTheReply) {
  fetcher.reply = "[Update]\r\nKey=" + Token("tok") + "\r\n";
  agents.failNext = true;
  main.FormCreate();
  EXPECT_THROW(main.InitRun(), std::runtime_error);
  EXPECT_EQ(Log(), Texts{"SilentUpdate"});
  EXPECT_TRUE(files.FileExists(reply));
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
}  // namespace umbrane
