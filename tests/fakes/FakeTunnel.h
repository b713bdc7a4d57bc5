// Fakes for the tunnel: a virtual clock behind the form's timers, scripted
// agents with their output pipe, and the system's Internet settings.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "CallLog.h"
#include "platform/AgentProcess.h"
#include "platform/InternetSettings.h"
#include "platform/Timers.h"

namespace umbrane::fakes {

// Timers on a virtual clock: Advance fires every tick that falls due, in
// time order, through onTick (which may advance the clock again, as a modal
// dialog that runs timers does).
class FakeTimers : public ITimers {
 public:
  std::function<void(TimerId)> onTick;
  unsigned long long now = 0;

  struct Timer {
    bool running = false;
    unsigned interval = 0;
    unsigned long long due = 0;
  };
  std::map<TimerId, Timer> timers;

  void Start(TimerId id, unsigned ms) override { timers[id] = {true, ms, now + ms}; }
  void Stop(TimerId id) override { timers[id].running = false; }
  bool Running(TimerId id) { return timers[id].running; }
  unsigned Interval(TimerId id) { return timers[id].interval; }

  void Advance(unsigned long long ms) {
    const unsigned long long end = now + ms;
    for (;;) {
      Timer* next = nullptr;
      TimerId nextId{};
      for (auto& [id, t] : timers) {
        if (t.running && t.due <= end && (next == nullptr || t.due < next->due)) {
          next = &t;
          nextId = id;
        }
      }
      if (next == nullptr) {
        break;
      }
      now = next->due;
      next->due += next->interval;
      if (onTick) {
        onTick(nextId);
      }
    }
    now = std::max(now, end);
  }
};

// What one started agent did and what it will do.
struct FakeAgentState {
  std::string commandLine;
  std::string pipe;  // output not read yet
  std::optional<std::uint32_t> exitCode = kStillActive;
  bool terminateFails = false;
  bool terminated = false;
  bool released = false;
  bool portHanded = false;  // started with the held listening socket
  std::size_t largestRead = 0;
  std::vector<std::string> later;  // what the agent writes while a tick waits
  int awaits = 0;

  void Print(const std::string& text) { pipe += text; }
  void Exit(std::uint32_t code) { exitCode = code; }
};

class FakeAgent : public IAgentProcess {
 public:
  FakeAgent(std::shared_ptr<FakeAgentState> state, CallLog* log)
      : state_(std::move(state)), log_(log) {}
  ~FakeAgent() override { state_->released = true; }

  std::optional<std::uint32_t> ExitCode() override { return state_->exitCode; }
  bool Terminate() override {
    if (log_ != nullptr) {
      log_->Add("TerminateAgent");
    }
    if (state_->terminateFails) {
      return false;
    }
    state_->terminated = true;
    state_->exitCode = 0;
    return true;
  }
  std::optional<std::size_t> Peek() override {
    if (state_->pipe.empty() && state_->exitCode != kStillActive) {
      return std::nullopt;  // drained and broken
    }
    return state_->pipe.size();
  }
  bool AwaitOutput(unsigned) override {
    ++state_->awaits;
    if (state_->pipe.empty() && !state_->later.empty()) {
      state_->pipe = state_->later.front();  // the agent goes on with its burst
      state_->later.erase(state_->later.begin());
    }
    return !state_->pipe.empty();
  }
  std::string Read(std::size_t max) override {
    state_->largestRead = std::max(state_->largestRead, max);
    std::string chunk = state_->pipe.substr(0, max);
    state_->pipe.erase(0, chunk.size());
    return chunk;
  }

 private:
  std::shared_ptr<FakeAgentState> state_;
  CallLog* log_;
};

class FakeAgentLauncher : public IAgentLauncher {
 public:
  explicit FakeAgentLauncher(CallLog* log = nullptr) : log_(log) {}

  std::vector<std::shared_ptr<FakeAgentState>> started;
  std::vector<std::string> programs;  // the program file of each start
  bool failNext = false;
  std::string portTakenBy;  // HoldPort's answer while the port is not held
  bool portHeld = false;

  FakeAgentState& Last() { return *started.back(); }

  std::unique_ptr<IAgentProcess> Start(const std::string& program,
                                       const std::string& commandLine) override {
    programs.push_back(program);
    if (log_ != nullptr) {
      log_->Add("StartAgent");
    }
    if (failNext) {
      failNext = false;
      return nullptr;
    }
    auto state = std::make_shared<FakeAgentState>();
    state->commandLine = commandLine;
    state->portHanded = portHeld;
    started.push_back(state);
    return std::make_unique<FakeAgent>(state, log_);
  }
  std::string HoldPort(std::uint16_t port) override {
    if (!portHeld && portTakenBy.empty() && log_ != nullptr) {
      log_->Add("HoldPort " + std::to_string(port));
    }
    portHeld = portHeld || portTakenBy.empty();
    return portHeld ? std::string() : portTakenBy;
  }
  void ReleasePort() override {
    if (portHeld && log_ != nullptr) {
      log_->Add("ReleasePort");
    }
    portHeld = false;
  }

 private:
  CallLog* log_;
};

class FakeInternetSettings : public IInternetSettings {
 public:
  explicit FakeInternetSettings(CallLog* log = nullptr) : log_(log) {}

  std::map<std::string, ConnectionProxy> connections;
  std::vector<std::string> dialUp;        // active dial-up connections
  std::vector<std::size_t> enumerations;  // the capacity of every enumeration
  std::vector<std::string> calls;
  bool refuse = false;
  std::function<void()> beforeSet;

  bool SetConnection(const std::string& name, const ConnectionProxy& s) override {
    if (beforeSet) {
      beforeSet();
    }
    std::string call = "Set[" + name + "] " + std::to_string(s.flags) + " " + s.proxyServer;
    if (s.bypass) {
      call += " bypass=" + *s.bypass;
    }
    if (s.autoConfigUrl) {
      call += " pac=" + *s.autoConfigUrl;
    }
    Record(call);
    if (!refuse) {
      connections[name] = s;
    }
    return !refuse;
  }
  std::set<std::string> unreadable;  // connections whose query fails

  std::optional<ConnectionProxy> QueryConnection(const std::string& name) override {
    if (unreadable.count(name) > 0) {
      return std::nullopt;
    }
    const auto it = connections.find(name);
    if (it == connections.end()) {
      return ConnectionProxy{};
    }
    return it->second;
  }
  void Refresh() override { Record("Refresh"); }
  void SettingsChanged() override { Record("SettingsChanged"); }
  DialUpEnumeration EnumerateDialUp(std::size_t capacity) override {
    enumerations.push_back(capacity);
    if (dialUp.size() > capacity) {
      return {false, true, dialUp.size(), {}};
    }
    return {true, false, 0, dialUp};
  }

 private:
  void Record(const std::string& call) {
    calls.push_back(call);
    if (log_ != nullptr) {
      log_->Add(call);
    }
  }
  CallLog* log_;
};

}  // namespace umbrane::fakes
