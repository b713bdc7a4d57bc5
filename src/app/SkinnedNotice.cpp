#include "app/SkinnedNotice.h"

#include "skin/Skin.h"

namespace umbrane {

bool IsCopyChord(int virtualKey, bool ctrlDown) {
  return ctrlDown && virtualKey == 'C';
}

std::string NoticeCopyText(const std::string& title, const std::string& text,
                           const std::vector<std::string>& buttonCaptions) {
  const std::string rule(27, '-');
  std::string buttons;
  for (const std::string& caption : buttonCaptions) {
    buttons += (buttons.empty() ? "" : "   ") + caption;
  }
  return rule + "\r\n" + title + "\r\n" + rule + "\r\n" + text + "\r\n" + rule + "\r\n" + buttons +
         "\r\n" + rule;
}

void ShowSkinnedMessage(IDialogs& dialogs, IProfile& profile, const std::string& skinFile,
                        const std::string& caption, const std::string& buttonCaption,
                        const std::string& text) {
  dialogs.ShowNotice(ReadSkin(profile, skinFile), caption, buttonCaption, text);
}

}  // namespace umbrane
