// The update check at start-up: one request to the update service, then a
// required new version announced and a supplied access token installed,
// which starts the first session without the user.
#include <string>

#include "BuildConfig.h"
#include "app/TfrmMain.h"
#include "base/IniValues.h"
#include "base/Text.h"
#include "tunnel/Cipher.h"
#include "tunnel/RelayList.h"
#include "update/Download.h"

namespace umbrane {

UpdateRequest TfrmMain::UpdateRequestOf(const std::string& customerId) {
  return {std::to_string(ports_.system.MachineId()), customerId,
          LeadingVersionNumber(g_.VersionText)};
}

std::string TfrmMain::UpdateRequestUrl(const std::string& customerId) {
  // Every value goes as it is: the service's signed reply names the
  // identifiers it read, and a reply for any others is refused.
  const UpdateRequest request = UpdateRequestOf(customerId);
  std::string url = build::kUpdateUrl;
  url.append("?id=").append(request.id).append("&sn=").append(request.sn);
  url.append("&version=").append(request.version).append("&language=");
  return url.append(std::to_string(ports_.system.SystemLanguage() & 0xFFFFu));
}

bool TfrmMain::SilentUpdate() {
  const std::string reply = g_.TempPath + "fladdm.temp";
  timRead_.Disarm();
  Report("SilentUpdate");
  SetUmbraneStatus(kStatusBusy, "SilentUpdate. Please wait...", kBalloonInfo);
  const std::string url = UpdateRequestUrl(build::kCustomerId);
  awaitingReply_ = true;
  std::string why;
  const bool fetched = DownloadToFile(ports_.fetcher, ports_.pump, url, reply, &why);
  awaitingReply_ = false;
  if (Ending()) {
    return false;  // closed during the download: its reply is not acted on
  }
  if (!fetched) {
    if (!why.empty()) {
      Report("SilentUpdate: " + why);
    }
    Report("SilentUpdate Failed!");
    SetUmbraneStatus(kStatusOff, "SilentUpdate Failed!", kBalloonError);
    return false;
  }
  // Nothing of a reply counts before it has passed every rule: a refused
  // one changes no setting and starts nothing.
  const UpdateReply answer = ReadUpdateReply(IniFile(ports_.profile, reply));
  const Verdict verdict = CheckReply(answer, UpdateRequestOf(build::kCustomerId), updateTrust,
                                     ports_.clock.UnixTime(), HighestUpdateSerial());
  if (verdict.refusal != Refusal::None) {
    (void)ports_.files.RemoveFile(reply);
    Report("SilentUpdate refused the reply: " + RefusalText(verdict.refusal));
    Report("SilentUpdate Failed!");
    SetUmbraneStatus(kStatusOff, "SilentUpdate Failed!", kBalloonError);
    return false;
  }
  // Kept before anything is acted on, so that the same reply replayed later
  // is refused.
  if (verdict.serial != 0 &&
      !ports_.profile.WriteString(g_.Settings->FileName(), "Update", "Serial",
                                  std::to_string(verdict.serial))) {
    Report("SilentUpdate could not keep the reply's number in umbrane.ini");
  }
  KeepRelays(answer.relays);
  if (ParseIniInteger(answer.newVersion).value_or(0) != 0) {
    const std::string message = "New Version of Umbrane is needed";
    ports_.dialogs.ShowMessageBox(message, MessageKind::Warning, MessageButtons::Ok);
    ShellOpen(ports_.shell, build::kHomePage);
    SetUmbraneStatus(kStatusOff, message, kBalloonInfo);
  }
  if (!answer.key.empty()) {
    const std::string token = Cipher(answer.key, kTokenKey);
    // The token goes onto the agent's command line: one that could add
    // options there is refused.
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

// A newer list of relays replaces the build's (and any older one): the
// agent reads it from the user's folder at its next start.
void TfrmMain::KeepRelays(const std::string& list) {
  if (list.empty()) {
    return;
  }
  std::string problem;
  const auto relays = ParseRelayList(list, problem);
  if (!relays) {
    Report("SilentUpdate passed over a relay list that is not one: " + problem);
    return;
  }
  if (!ports_.files.ReplaceFileSafely(g_.DataPath + kRelayListFile, RelayListText(*relays),
                                      problem)) {
    Report(std::string("SilentUpdate could not keep the relays in ")
               .append(kRelayListFile)
               .append(": ")
               .append(problem));
    return;
  }
  Report("SilentUpdate kept a list of " + std::to_string(relays->size()) + " relays");
}

std::uint64_t TfrmMain::HighestUpdateSerial() const {
  // A value that is not a number keeps nothing out: replies still need
  // their signature and must still hold.
  return ReplyCount(g_.Settings->ReadString("Update", "Serial", "0")).value_or(0);
}

}  // namespace umbrane
