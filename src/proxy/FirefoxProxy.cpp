#include "proxy/FirefoxProxy.h"

#include "proxy/BypassList.h"
#include "proxy/Probes.h"

namespace umbrane {

namespace {

constexpr const char* kNotInFront =
    "Firefox could not be brought to the front: its proxy keys were not sent";

std::optional<std::string> HandOffPath(IRegistry& registry) {
  const auto folder = registry.ReadUserString(kFirefoxExtensionsKey, kFirefoxExtensionId);
  if (!folder || folder->empty()) {
    return std::nullopt;  // the extension is not installed
  }
  return *folder + "umbrane.tmp";
}

class FirefoxStep final : public IBrowserStep {
 public:
  explicit FirefoxStep(const StepEnvironment& environment) : environment_(environment) {}

  bool Save(SavedBrowsers&) override { return false; }

  StepResult Apply(const ProxySetting& setting, const SavedBrowsers&) override {
    Switch(true, setting.proxy, setting.country, setting.bypass);
    StepResult result;
    result.ours = Ours();
    if (HandOffPath(environment_.ports.registry) && result.ours.empty()) {
      result.notWritten.push_back("Firefox");  // the hand-off file could not be written
    }
    return result;
  }

  bool Restore(const SavedBrowsers*) override {
    Switch(false, "", "", "");
    return true;  // a hand-off that cannot be written has nothing to keep
  }

  std::vector<std::string> Ours() override {
    const auto path = HandOffPath(environment_.ports.registry);
    const auto handOff = path ? environment_.ports.files.ReadFile(*path) : std::nullopt;
    if (handOff && handOff->rfind("-1\r\n", 0) == 0) {
      return {"Firefox"};
    }
    return {};
  }

 private:
  void Switch(bool enable, const std::string& proxy, const std::string& country,
              const std::string& bypass) {
    if (!SetFirefoxExtensionProxy(environment_.ports, enable, proxy, country, bypass) &&
        environment_.note) {
      environment_.note(kNotInFront);
    }
  }

  StepEnvironment environment_;
};

}  // namespace

std::string FirefoxHandOff(bool enable, const std::string& proxy, const std::string& country,
                           const std::string& bypass) {
  const HostPort split = SplitProxy(proxy);
  return std::string(enable ? "-1" : "0") + "\r\n" + split.host + "\r\n" + split.port + "\r\n" +
         country + "\r\n" + MozillaBypass(bypass) + "\r\n";
}

bool SetFirefoxExtensionProxy(BrowserPorts& ports, bool enable, const std::string& proxy,
                              const std::string& country, const std::string& bypass) {
  const auto path = HandOffPath(ports.registry);
  if (!path) {
    return true;
  }
  std::string error;
  // A folder the extension removed simply gets no file; nothing to tell.
  (void)ports.files.ReplaceFileSafely(*path, FirefoxHandOff(enable, proxy, country, bypass), error);
  const WindowId firefox = FindFirefoxWindow(ports.windows);
  if (firefox == 0) {
    return true;
  }
  if (!ports.windows.BringToForeground(firefox)) {
    return false;  // Control+Shift+H would land in whatever program is in front
  }
  constexpr std::uint8_t kControl = 0x11, kShift = 0x10, kH = 0x48;
  ports.windows.SendKeys({{kControl, false},
                          {kShift, false},
                          {kH, false},
                          {kControl, true},
                          {kShift, true},
                          {kH, true}});
  return true;
}

std::unique_ptr<IBrowserStep> MakeFirefoxStep(const StepEnvironment& environment) {
  return std::make_unique<FirefoxStep>(environment);
}

}  // namespace umbrane
