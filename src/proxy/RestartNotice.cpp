#include "proxy/RestartNotice.h"

#include <cstdio>

#include "base/Text.h"
#include "skin/Skin.h"

namespace umbrane {

LanguageFiles LanguageFilesFor(const std::string& appPath, unsigned languageId) {
  char name[16];
  std::snprintf(name, sizeof name, "%04X.lng", languageId & 0xFFFFu);
  return {appPath + "lang\\" + name, appPath + "lang\\0409.lng"};
}

LanguageFiles CurrentLanguageFiles(ISystem& system) {
  return LanguageFilesFor(ExtractFilePath(system.ExecutablePath()), system.UiLanguage());
}

std::string GetLangString(IProfile& profile, const LanguageFiles& files, const std::string& key) {
  std::string text = profile.ReadString(files.current, "STRING", key, "");
  if (text.empty()) {
    text = profile.ReadString(files.fallback, "STRING", key, "");
  }
  return text;
}

std::string FormatText(const std::string& format, const std::vector<std::string>& args) {
  std::string out;
  std::size_t next = 0;
  for (std::size_t i = 0; i < format.size(); ++i) {
    if (format[i] != '%' || i + 1 >= format.size()) {
      out += format[i];
      continue;
    }
    if (format[i + 1] == '%') {
      out += '%';
      ++i;
      continue;
    }
    std::size_t j = i + 1;
    std::size_t index = next;
    if (format[j] >= '0' && format[j] <= '9') {
      index = 0;
      while (j < format.size() && format[j] >= '0' && format[j] <= '9') {
        index = index * 10 + static_cast<std::size_t>(format[j] - '0');
        ++j;
      }
      if (j >= format.size() || format[j] != ':') {
        out += format[i];
        continue;
      }
      ++j;
    }
    if (j < format.size() && (format[j] == 's' || format[j] == 'S') && index < args.size()) {
      out += args[index];
      next = index + 1;
      i = j;
    } else {
      out += format[i];
    }
  }
  return out;
}

void ShowRestartNotice(IDialogs& dialogs, IProfile& profile, const std::string& skinFile,
                       const LanguageFiles& files, const std::string& browser) {
  const std::string text =
      FormatText(GetLangString(profile, files, "strRestart"), {browser, browser});
  // The skin is read afresh for each notice, so a changed skin shows at once.
  dialogs.ShowNotice(ReadSkin(profile, skinFile), "Umbrane", GetLangString(profile, files, "strOK"),
                     text);
}

}  // namespace umbrane
