// Port: modal message dialogs. While one is up the message loop keeps
// running, so timers and the tray are still served.
#pragma once

#include <string>

#include "platform/Look.h"

namespace umbrane {

enum class MessageKind { Warning, Error };
enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

class IDialogs {
 public:
  virtual ~IDialogs() = default;

  // The standard message box: caption "Warning" or "Error" after the kind,
  // the kind's system icon, the buttons given; returns the button chosen.
  virtual MessageAnswer ShowMessageBox(const std::string& text, MessageKind kind,
                                       MessageButtons buttons) = 0;
  // The box for an error that no handler caught: the application title as
  // caption, the error icon and one OK button.
  virtual void ShowErrorBox(const std::string& caption, const std::string& text) = 0;
  // The skinned notice: the look given, a warning picture and one default
  // button whose result is OK; Ctrl+C copies its text.
  virtual void ShowNotice(const SkinLook& look, const std::string& caption,
                          const std::string& buttonCaption, const std::string& text) = 0;
};

}  // namespace umbrane
