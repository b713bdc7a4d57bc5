// Everything the controller asks of the operating system, in one bundle. The
// Win32 program fills it with adapters, the unit tests with fakes.
#pragma once

#include "platform/AgentProcess.h"
#include "platform/Clock.h"
#include "platform/Dialogs.h"
#include "platform/UrlFetcher.h"
#include "platform/FileSystem.h"
#include "platform/MainForm.h"
#include "platform/NotificationArea.h"
#include "platform/Profile.h"
#include "platform/Shell.h"
#include "platform/System.h"
#include "platform/Timers.h"
#include "platform/TrayMenu.h"

namespace umbrane {

struct AppPorts {
  IFileSystem& files;
  IProfile& profile;
  IClock& clock;
  ISystem& system;
  IShell& shell;
  IDialogs& dialogs;
  IMainForm& form;
  INotificationArea& tray;
  ITrayMenu& menu;
  ITimers& timers;
  IAgentLauncher& agents;
  IUrlFetcher& fetcher;
  IMessagePump& pump;
};

}  // namespace umbrane
