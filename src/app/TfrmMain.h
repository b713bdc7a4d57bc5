// The controller: start-up, the commands, the activity log and shutdown. It
// owns no window; the main window reaches it through the main-form adapter,
// which forwards the close and the menu commands, and it reaches the window
// and the system through the ports.
#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "app/ActivityLog.h"
#include "app/AppPorts.h"
#include "app/CoolTrayIcon.h"
#include "app/FormTimer.h"
#include "app/Globals.h"
#include "proxy/BrowserSwitch.h"
#include "tunnel/AgentOutput.h"

namespace umbrane {

inline constexpr const char* kApplicationTitle = "Umbrane";

class TfrmMain {
 public:
  TfrmMain(AppPorts& ports, IBrowserSwitch& browsers, Globals& globals);

  // Status kinds and the balloon icons the program uses.
  static constexpr std::uint8_t kStatusBusy = 0;
  static constexpr std::uint8_t kStatusOn = 1;
  static constexpr std::uint8_t kStatusOff = 2;
  static constexpr std::uint8_t kBalloonInfo = 1;
  static constexpr std::uint8_t kBalloonError = 3;

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
  // The request the update check sends.
  std::string UpdateRequestUrl(const std::string& customerId);

  // The main window's close handler: the browsers back on a direct
  // connection, "Closing...", the state freed, the agent ended. Every step
  // runs even when logging fails; that failure is raised at the end.
  void FormClose();

  // Appends one entry to the log and brings log.txt up to date. Throws
  // LogWriteError when the file cannot be written; the entry stays in the
  // list and reaches the file with the next successful entry.
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
  // reconnect, the stop command and the agent's status lines.
  void Umbrane();
  void Sweep();
  void timReadTimer();
  void timResetTimer();
  void ProcessMsg();
  // A tick of one of the form's timers, dispatched like every event.
  void OnTimer(TimerId id);

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
  }
  void ShowException(const std::exception& error);

  TCoolTrayIcon& ctiControl() { return ctiControl_; }
  const std::string& HelpFile() const { return helpFile_; }
  const std::string& ApplicationTitle() const { return applicationTitle_; }

 private:
  void FailStartup(const std::string& message);
  void ConnectionFailed();
  // The browsers to the local proxy and back, with the marker file that
  // lets the next start put them back if this run dies while they are on.
  void ApplyBrowsers();
  void RestoreBrowsers();
  void RecoverFromEarlierRun();
  std::string MarkerPath() const;

  AppPorts& ports_;
  IBrowserSwitch& browsers_;
  Globals& g_;
  TCoolTrayIcon ctiControl_;
  TTimer timRead_;
  TTimer timReset_;
  std::unique_ptr<IAgentProcess> agent_;
  AgentOutput agentOutput_;
  bool browsersOnProxy_ = false;
  std::unique_ptr<LogFile> logFile_;
  std::string applicationTitle_;
  std::string helpFile_;
};

// The shell's "OPEN" on a file or a web address, with no parent window.
void ShellOpen(IShell& shell, const std::string& target);

}  // namespace umbrane
