// The controller with every port faked, started as the program starts it,
// for the tests of whole behaviours (tunnel, update check).
#pragma once

#include <string>
#include <vector>

#include "BuildConfig.h"
#include "FakeDownload.h"
#include "FakeFileSystem.h"
#include "FakePorts.h"
#include "FakeProfile.h"
#include "FakeTray.h"
#include "FakeTunnel.h"
#include "SignedReply.h"
#include "app/TfrmMain.h"

namespace umbrane::fakes {

inline constexpr const char* kHarnessAppPath = "C:\\Program Files\\Umbrane\\";
inline constexpr const char* kHarnessData = "C:\\Users\\ann\\AppData\\Roaming\\Umbrane\\";
inline constexpr const char* kHarnessTemp = "C:\\Users\\ann\\AppData\\Local\\Temp\\";

struct AppHarness {
  CallLog calls;
  FakeFileSystem files;
  FakeProfile profile{files};
  FakeClock clock;
  FakeSystem system;
  FakeShell shell;
  FakeDialogs dialogs{&calls};
  FakeMainForm form{&calls};
  FakeNotificationArea tray;
  FakeTrayMenu menu;
  FakeTimers timers;
  FakeAgentLauncher agents{&calls};
  FakeFetcher fetcher{files};
  FakePump pump;
  FakeBrowserSwitch browsers{&calls};
  AppPorts ports{files, profile, clock,  system, shell,   dialogs, form,
                 tray,  menu,    timers, agents, fetcher, pump};
  Globals g;
  TfrmMain main{ports, browsers, g};

  AppHarness() {
    system.specialFolders[26] = "C:\\Users\\ann\\AppData\\Roaming";
    system.tempPath = kHarnessTemp;
    files.AddFolder("C:\\Users\\ann\\AppData\\Roaming");
    files.AddFolder(kHarnessTemp);
    files.AddFile(std::string(kHarnessAppPath) + "default.skn", "");
    files.AddFile(std::string(kHarnessAppPath) + "warden.exe", "MZ");
    timers.onTick = [this](TimerId id) { main.OnTimer(id); };
    files.appendLog = &calls;
    tray.statusLog = &calls;
  }

  // A reply of the update service to this machine's request, signed, issued
  // now, holding an hour and numbered above every earlier one.
  UpdateReply ReplyFor(std::string newVersion, std::string key) {
    const UpdateRequest asked = main.UpdateRequestOf(build::kCustomerId);
    return {std::move(newVersion),
            std::move(key),
            "",
            asked.id,
            asked.sn,
            asked.version,
            std::to_string(clock.unixTime),
            std::to_string(clock.unixTime + 3600),
            std::to_string(++lastSerial),
            ""};
  }
  std::string Reply(std::string newVersion, std::string key = "") {
    return SignedReply(ReplyFor(std::move(newVersion), std::move(key)));
  }
  std::uint64_t lastSerial = 41;

  // Entries at the start of the log that Log() leaves out.
  std::size_t logSkip = 0;

  // The messages of the log, without their time stamps.
  std::vector<std::string> Log() {
    LineList lines;
    lines.SetText(files.Content(std::string(kHarnessData) + "log.txt").value_or(""));
    std::vector<std::string> messages;
    for (std::size_t i = logSkip; i < lines.Count(); ++i) {
      messages.push_back(lines[i].substr(lines[i].find("] ") + 2));
    }
    return messages;
  }
  std::string Tip() { return tray.calls.back().record.tip; }
  // The connection failures left before the question.
  void Retries(int left) { main.MemoryForTests().retriesLeft = left; }
  int RetriesLeft() const { return main.Memory().retriesLeft; }
  std::string Balloon() { return tray.Named("Modify").back().record.info; }
};

}  // namespace umbrane::fakes
