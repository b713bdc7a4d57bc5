// The update check at start-up: one request to the update service, then a
// required new version announced and a supplied access token installed,
// which starts the first session without the user.
#include <string>

#include "BuildConfig.h"
#include "app/TfrmMain.h"
#include "base/IniValues.h"
#include "base/Text.h"
#include "tunnel/Cipher.h"
#include "update/Download.h"

namespace umbrane {

std::string TfrmMain::UpdateRequestUrl(const std::string& customerId) {
  // The customer identifier is encoded so that no value can add or break a
  // query key; ordinary identifiers reach the service unchanged.
  return std::string(build::kUpdateUrl) + "?id=" + std::to_string(ports_.system.MachineId()) +
         "&sn=" + PercentEncode(customerId) + "&version=" + LeadingVersionNumber(g_.VersionText) +
         "&language=" + std::to_string(ports_.system.SystemLanguage() & 0xFFFFu);
}

bool TfrmMain::SilentUpdate() {
  const std::string reply = g_.TempPath + "fladdm.temp";
  timRead_.Disarm();
  Report("SilentUpdate");
  SetUmbraneStatus(kStatusBusy, "SilentUpdate. Please wait...", kBalloonInfo);
  const std::string url = UpdateRequestUrl(build::kCustomerId);
  awaitingReply_ = true;
  const bool fetched = DownloadToFile(ports_.fetcher, ports_.pump, url, reply);
  awaitingReply_ = false;
  if (Ending()) {
    return false;  // closed during the download: its reply is not acted on
  }
  if (!fetched) {
    Report("SilentUpdate Failed!");
    SetUmbraneStatus(kStatusOff, "SilentUpdate Failed!", kBalloonError);
    return false;
  }
  const IniFile answer(ports_.profile, reply);
  if (ParseIniInteger(answer.ReadString("Update", "NewVersion", "")).value_or(0) != 0) {
    const std::string message = "New Version of Umbrane is needed";
    ports_.dialogs.ShowMessageBox(message, MessageKind::Warning, MessageButtons::Ok);
    ShellOpen(ports_.shell, build::kHomePage);
    SetUmbraneStatus(kStatusOff, message, kBalloonInfo);
  }
  const std::string key = answer.ReadString("Update", "Key", "");
  if (!key.empty()) {
    const std::string token = Cipher(key, kTokenKey);
    // The token goes onto the agent's command line: one that could add
    // options there (a reply tampered with on its way) is refused.
    if (IsSafeToken(token)) {
      g_.AccessToken = token;
      Sweep();
      Umbrane();
    } else {
      Report("SilentUpdate refused an access token that is not one word");
    }
  }
  (void)ports_.files.RemoveFile(reply);
  Report("SilentUpdate Successfully!");
  return true;
}

}  // namespace umbrane
