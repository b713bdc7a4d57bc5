// The controller's tunnel on a virtual clock, for the unit tests: the
// program started with nothing to update, scripted agents, and dialogs the
// test answers.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "AppHarness.h"
#include "app/Commands.h"
#include "app/TfrmMain.h"
#include "proxy/BypassList.h"

namespace umbrane::fakes {

using Texts = std::vector<std::string>;

inline constexpr const char* kAppPath = kHarnessAppPath;
inline constexpr const char* kData = kHarnessData;
// The apply carries the local addresses as the bypass list.
inline const std::string kApplied =
    std::string("SetBrowsersProxy on [127.0.0.1:7070][usa][") + kLocalBypass + "]";

class Tunnel : public ::testing::Test, public AppHarness {
 protected:
  void SetUp() override {
    fetcher.reply = "";  // the update check at start-up asks for nothing
    main.FormCreate();
    main.InitRun();
    logSkip = Log().size();  // the update check's entries
    calls.calls.clear();
  }

  FakeAgentState& Agent() { return agents.Last(); }
  void Tick(unsigned long long ms = TfrmMain::kReadInterval) { timers.Advance(ms); }
  // The browsers' saved state, which tells the next start that a restore is due.
  bool Marker() { return browsers.HasSavedState(); }
  void Fail() {
    Agent().Print("160033 relay unreachable\r\n");
    Tick();
  }
  void ConnectAndGoOn() {
    main.OnCommand(kCmdUmbrane1);
    Agent().Print("160036 a\r\n160032 b\r\n160138 ready\r\n");
    Tick();
  }
};

}  // namespace umbrane::fakes
