// The controller: start-up, the commands, the activity log and shutdown. It
// owns no window; the main window reaches it through the main-form adapter,
// which forwards the close and the menu commands, and it reaches the window
// and the system through the ports.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/ActivityLog.h"
#include "app/AppPorts.h"
#include "app/CoolTrayIcon.h"
#include "app/FormTimer.h"
#include "app/Globals.h"
#include "app/Session.h"
#include "app/StatusLines.h"
#include "proxy/BrowserSwitch.h"
#include "tunnel/AgentOutput.h"
#include "update/UpdateReply.h"

namespace umbrane {

inline constexpr const char* kApplicationTitle = "Umbrane";

class TfrmMain {
 public:
  TfrmMain(AppPorts& ports, IBrowserSwitch& browsers, Globals& globals);

  // The agent's output is polled this often (timRead).
  static constexpr unsigned kReadInterval = 1000;

  // Status kinds and the balloon icons the program uses.
  static constexpr std::uint8_t kStatusBusy = kShowBusy;
  static constexpr std::uint8_t kStatusOn = kShowOn;
  static constexpr std::uint8_t kStatusOff = kShowOff;
  static constexpr std::uint8_t kBalloonInfo = kIconInfo;
  static constexpr std::uint8_t kBalloonWarning = kIconWarning;
  static constexpr std::uint8_t kBalloonError = kIconError;

  // The window has been created: the tray icon and the menu are set up, the
  // window stays hidden and the icon is added.
  void FormCreate();
  // The window is being destroyed: the icon is removed.
  void FormDestroy();
  // Start-up, after FormCreate and before the message loop runs.
  void InitRun();
  // Each returns false when start-up cannot go on; the window has then been
  // asked to close.
  bool InitSettings();
  bool InitInterface();
  // Asks the update service at start-up; true when its reply was fetched.
  bool SilentUpdate();
  // The request the update check sends, and its identifiers.
  std::string UpdateRequestUrl(const std::string& customerId);
  UpdateRequest UpdateRequestOf(const std::string& customerId);
  // The keys that vouch for the update service's replies: the build's (a
  // test may stand in a build that acts on unsigned replies).
  UpdateTrust updateTrust = BuiltUpdateTrust();

  // The main window's close handler: the timers off, the browsers given
  // back, "Closing...", the state freed, the agent ended. It runs once;
  // afterwards timers and commands change nothing.
  void FormClose();
  // Windows asks whether the session may end (always yes), then says that
  // it ends: the shutdown runs before the answer returns, with no dialog.
  bool FormQueryEndSession();
  void FormEndSession(bool ending);

  // Appends one entry to the log and brings log.txt up to date. A log that
  // cannot be written never stops the program: the entry stays in the list
  // and reaches the file with the next successful write, and the failure is
  // shown once a run, after the event that met it.
  void Report(const std::string& message);

  // What the user sees: icon, tip, balloon and the two session entries.
  void SetUmbraneStatus(std::uint8_t kind, const std::string& message, std::uint8_t balloonIcon);

  // A menu command by its identifier (Commands.h); unknown ones are ignored.
  void OnCommand(int command);
  void Umbrane1Click();
  void StopUmbrane1Click();
  void About1Click();
  void suitempbtnOKClick();
  void ctiControlClick();
  void ctiControlStartup(bool& showMainForm);
  void SeeMyIP1Click();
  void Report1Click();
  void Help1Click();
  void Exit1Click();

  // The tunnel: start the agent, end it, the one-second poll, the
  // reconnect, the stop command and the agent's status lines. Each feeds
  // the session an event and carries out what it decides (Session.h).
  void Umbrane();
  void Sweep();
  void timReadTimer();
  void timResetTimer();
  void ProcessMsg();
  // A tick of one of the form's timers, dispatched like every event.
  void OnTimer(TimerId id);

  // Where the tunnel session is (Session.h).
  Phase State() const { return session_.phase; }
  const SessionState& Memory() const { return session_; }
  // Tests start from a session of their choosing.
  SessionState& MemoryForTests() { return session_; }
  // The user answered the try-again question.
  void OnAnswer(MessageAnswer answer);

  TTimer& timRead() { return timRead_; }
  TTimer& timReset() { return timReset_; }
  bool AgentRunning() const { return agent_ != nullptr; }

  // Runs an event handler; an error it does not catch is shown in the
  // top-level error box and the program goes on.
  template <typename Handler>
  void Dispatch(Handler&& handler) {
    try {
      handler();
    } catch (const std::exception& e) {
      ShowException(e);
    }
    ShowLogFailure();
  }
  void ShowException(const std::exception& error);
  // Shows a log failure met since the last event, once a run.
  void ShowLogFailure();

  TCoolTrayIcon& ctiControl() { return ctiControl_; }
  const std::string& HelpFile() const { return helpFile_; }
  const std::string& ApplicationTitle() const { return applicationTitle_; }

 private:
  void FailStartup(const std::string& message);
  // The highest number of an update reply accepted before (settings).
  std::uint64_t HighestUpdateSerial() const;
  void KeepRelays(const std::string& list);
  // Moves the session with `event` and carries out what it decides, and
  // then the events those actions found, in order.
  void Feed(SessionEvent event);
  // One action; what it found, when the session must hear of it.
  std::optional<SessionEvent> Carry(const SessionAction& action);
  // End any agent, hold the port and start one.
  std::optional<SessionEvent> StartAgent();
  // What a status line's event makes the program do (StatusLines.h).
  void OnAgentEvent(AgentEvent event, const std::string& line);
  // What the last switch read back: logged, and on or off shown.
  void TellSwitched();
  void RestoreBrowsers(std::string* unreadable = nullptr);
  void RecoverFromEarlierRun();
  bool Ending() const { return closed_; }

  AppPorts& ports_;
  IBrowserSwitch& browsers_;
  Globals& g_;
  TCoolTrayIcon ctiControl_;
  TTimer timRead_;
  TTimer timReset_;
  std::unique_ptr<IAgentProcess> agent_;
  AgentOutput agentOutput_;
  SessionState session_;
  SwitchOutcome lastApply_;                // what the last switch read back
  std::vector<std::string> changedNames_;  // what the last watch found changed
  bool closed_ = false;                    // FormClose has run: nothing starts or switches
  bool sessionEnding_ = false;             // Windows is ending: no box may wait
  std::unique_ptr<LogFile> logFile_;
  std::string logFailure_;  // to be shown after the current event
  bool logFailureShown_ = false;
  // The update check waits for its reply: a box shown by an event handled
  // meanwhile would hold the check (its own wait) until dismissed.
  bool awaitingReply_ = false;
  std::string applicationTitle_;
  std::string helpFile_;
};

// The shell's "OPEN" on a file or a web address, with no parent window.
void ShellOpen(IShell& shell, const std::string& target);

}  // namespace umbrane
