// The notice that asks the user to restart a browser whose settings were
// just changed, in the user's language.
//
// Language files are INI files with section "STRING" in the folder "lang"
// beside umbrane.exe, named after the Windows language identifier in four
// hex digits: "lang\0409.lng" is English (United States) and is also the
// fallback for any text the current language's file lacks.
#pragma once

#include <string>
#include <vector>

#include "platform/Dialogs.h"
#include "platform/Profile.h"
#include "platform/System.h"

namespace umbrane {

struct LanguageFiles {
  std::string current;
  std::string fallback;
};

// The files for the user interface language `languageId` under `appPath`.
LanguageFiles LanguageFilesFor(const std::string& appPath, unsigned languageId);
// The files for the user's interface language, beside the program.
LanguageFiles CurrentLanguageFiles(ISystem& system);

// The text of `key` in the current file, or in the fallback file when the
// current one has none (empty when neither has it).
std::string GetLangString(IProfile& profile, const LanguageFiles& files, const std::string& key);

// `format` with each "%s" replaced by the next argument, "%N:s" by argument
// N, and "%%" by "%"; anything else is left as it is.
std::string FormatText(const std::string& format, const std::vector<std::string>& args);

// Shows the skinned notice for `browser` ("Opera" or "Netscape") and waits
// until it is closed.
void ShowRestartNotice(IDialogs& dialogs, IProfile& profile, const std::string& skinFile,
                       const LanguageFiles& files, const std::string& browser);

}  // namespace umbrane
