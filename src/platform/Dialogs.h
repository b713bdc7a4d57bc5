// Port: message dialogs. A modal one runs its own message loop, so timers
// and the tray are still served while it is up: the session never waits in
// one. Its boxes are shown without waiting, and an answer comes back later,
// from the program's own message loop, as an event of its own.
#pragma once

#include <functional>
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
  // The same box, shown without waiting: it returns at once, and
  // `answered`, when given, gets the button chosen once the user has
  // chosen. A box still open when the program ends answers nothing.
  virtual void ShowMessageBoxLater(const std::string& text, MessageKind kind,
                                   MessageButtons buttons,
                                   std::function<void(MessageAnswer)> answered) = 0;
  // The box for an error that no handler caught: the application title as
  // caption, the error icon and one OK button.
  virtual void ShowErrorBox(const std::string& caption, const std::string& text) = 0;
  // The skinned notice: the look given, a warning picture and one default
  // button whose result is OK; Ctrl+C copies its text. It is shown without
  // waiting: nothing follows from its closing.
  virtual void ShowNotice(const SkinLook& look, const std::string& caption,
                          const std::string& buttonCaption, const std::string& text) = 0;
};

}  // namespace umbrane
