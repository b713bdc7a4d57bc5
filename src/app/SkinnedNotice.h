// The parts of the skinned notice that do not depend on the window system:
// which key copies it and the text that goes to the clipboard.
#pragma once

#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Profile.h"

namespace umbrane {

// True for the C key going down while Ctrl is held; Shift and Alt do not
// matter.
bool IsCopyChord(int virtualKey, bool ctrlDown);

// Seven lines: hyphens, title, hyphens, text, hyphens, the button captions
// joined by three spaces, hyphens; CR LF between lines, none after the last.
std::string NoticeCopyText(const std::string& title, const std::string& text,
                           const std::vector<std::string>& buttonCaptions);

// Shows the notice in the look of `skinFile`, read afresh for each notice.
void ShowSkinnedMessage(IDialogs& dialogs, IProfile& profile, const std::string& skinFile,
                        const std::string& caption, const std::string& buttonCaption,
                        const std::string& text);

}  // namespace umbrane
