#include "proxy/OperaProxy.h"

#include "base/Text.h"
#include "proxy/Probes.h"

namespace umbrane {

namespace {

constexpr const char* kSection = "Proxy";
constexpr const char* kKey = "Automatic Proxy Configuration URL";
constexpr const char* kStateSection = "Opera";
constexpr const char* kPacName = "umbrane.pac";

// The ownership test: any address naming "umbrane" is the program's.
bool NamesUmbrane(const std::string& url) {
  return url.find("umbrane") != std::string::npos;
}

// The PAC file is the user's own, in their data folder: beside the program
// another account able to write there could send Opera anywhere. Earlier
// versions put it beside the program; Opera is moved off that one.
std::string PacPath(const BrowserContext& context) {
  return context.dataPath + kPacName;
}

bool PointsHere(const std::string& url, const BrowserContext& context) {
  const std::string named = LowerCase(url);
  return NamesUmbrane(url) &&
         (named == LowerCase(PacPath(context)) || named != LowerCase(context.appPath + kPacName));
}

void NotifyIfRunning(BrowserPorts& ports, const BrowserContext& context) {
  if (GetRunningBrowser(ports.processes) == "Opera") {
    NotifyRestart(ports, context, "Opera");
  }
}

class OperaStep final : public IBrowserStep {
 public:
  explicit OperaStep(const StepEnvironment& environment) : environment_(environment) {}

  bool Save(SavedBrowsers& state) override {
    if (state.Find(kStateSection)) {
      return false;
    }
    const auto url = SaveOperaProxy(environment_.ports);
    if (!url) {
      return false;  // not installed: nothing to give back
    }
    state.sections.push_back({kStateSection, {{"Url", *url}}});
    return true;
  }

  StepResult Apply(const ProxySetting& setting, const SavedBrowsers&) override {
    SetOperaProxy(environment_.ports, environment_.context, true, setting.proxy);
    StepResult result;
    result.ours = Ours();
    if (environment_.ports.files.FileExists(GetOperaIniPath(environment_.ports.system)) &&
        result.ours.empty()) {
      result.notWritten.push_back("Opera");  // its settings or the PAC file could not be written
    }
    return result;
  }

  bool Restore(const SavedBrowsers* state) override {
    const StateSection* saved = state ? state->Find(kStateSection) : nullptr;
    std::optional<std::string> url;
    if (saved) {
      url = saved->Get("Url").value_or("");
    }
    return RestoreOperaProxy(environment_.ports, environment_.context, url);
  }

  // Pointed at a PAC file of the program's that holds the proxy rule.
  std::vector<std::string> Ours() override {
    const std::string ini = GetOperaIniPath(environment_.ports.system);
    if (!environment_.ports.files.FileExists(ini) ||
        !NamesUmbrane(environment_.ports.profile.ReadString(ini, kSection, kKey, ""))) {
      return {};
    }
    const auto pac = environment_.ports.files.ReadFile(PacPath(environment_.context));
    return pac && !pac->empty() ? std::vector<std::string>{"Opera"} : std::vector<std::string>{};
  }

 private:
  StepEnvironment environment_;
};

}  // namespace

std::string GetOperaIniPath(ISystem& system) {
  return GetAppDataFolder(system) + "Opera\\Opera\\profile\\opera6.ini";
}

std::string OperaPac(bool enable, const std::string& proxy) {
  if (!enable) {
    return {};
  }
  return "function FindProxyForURL(url, host)\r\n{return \"PROXY " + proxy + "\";\r\n}\r\n";
}

std::optional<std::string> SaveOperaProxy(BrowserPorts& ports) {
  const std::string ini = GetOperaIniPath(ports.system);
  if (!ports.files.FileExists(ini)) {
    return std::nullopt;
  }
  return ports.profile.ReadString(ini, kSection, kKey, "");
}

void SetOperaProxy(BrowserPorts& ports, const BrowserContext& context, bool enable,
                   const std::string& proxy) {
  const std::string ini = GetOperaIniPath(ports.system);
  if (!ports.files.FileExists(ini)) {
    return;  // Opera is not installed for this user
  }
  const std::string pac = PacPath(context);
  if (!PointsHere(ports.profile.ReadString(ini, kSection, kKey, ""), context)) {
    (void)ports.profile.WriteString(ini, kSection, kKey, pac);
    NotifyIfRunning(ports, context);
  }
  std::string error;
  (void)ports.files.ReplaceFileSafely(pac, OperaPac(enable, proxy), error);
}

bool RestoreOperaProxy(BrowserPorts& ports, const BrowserContext& context,
                       const std::optional<std::string>& saved) {
  const std::string ini = GetOperaIniPath(ports.system);
  if (!ports.files.FileExists(ini)) {
    return true;  // nothing of Opera's to give back
  }
  bool restored = true;
  // An empty saved address keeps Opera on the emptied PAC file, which is a
  // direct connection too; the user's own address goes back.
  if (saved && !saved->empty() && !NamesUmbrane(*saved) &&
      NamesUmbrane(ports.profile.ReadString(ini, kSection, kKey, ""))) {
    restored = ports.profile.WriteString(ini, kSection, kKey, *saved);
    NotifyIfRunning(ports, context);
  }
  const std::string pac = PacPath(context);
  std::string error;
  // A PAC file that was never written needs no emptying.
  if (!ports.files.ReplaceFileSafely(pac, OperaPac(false, ""), error) &&
      ports.files.FileExists(pac)) {
    restored = false;
  }
  return restored;
}

std::unique_ptr<IBrowserStep> MakeOperaStep(const StepEnvironment& environment) {
  return std::make_unique<OperaStep>(environment);
}

}  // namespace umbrane
