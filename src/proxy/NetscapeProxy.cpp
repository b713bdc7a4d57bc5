#include "proxy/NetscapeProxy.h"

#include "base/LineList.h"
#include "proxy/BypassList.h"
#include "proxy/Probes.h"
#include "proxy/SystemProxy.h"

namespace umbrane {

namespace {

constexpr const char* kStateSection = "Netscape";
constexpr const char* kBypassLine = "user_pref(\"network.proxy.no_proxies_on\", \"";

// A line naming one of these keys is a proxy line ("network.proxy.http"
// covers "…http_port" too, "network.proxy.ssl" "…ssl_port"). Earlier
// versions wrote no HTTPS lines and left the user's alone.
using Keys = std::vector<const char*>;
const Keys kKeys = {"network.proxy.http", "network.proxy.ssl", "network.proxy.type",
                    "network.proxy.no_proxies_on"};
const Keys kEarlierKeys = {"network.proxy.http", "network.proxy.type",
                           "network.proxy.no_proxies_on"};

bool IsProxyLine(const std::string& line, const Keys& keys) {
  for (const char* key : keys) {
    if (line.find(key) != std::string::npos) {
      return true;
    }
  }
  return false;
}

// The lines of `userJs` that name a key (`proxy` true) or none (false).
LineList Select(const std::string& userJs, const Keys& keys, bool proxy) {
  LineList source;
  source.SetText(userJs);
  LineList lines;
  for (const std::string& line : source.Lines()) {
    if (IsProxyLine(line, keys) == proxy) {
      lines.Add(line);
    }
  }
  return lines;
}

// The bypass line says whatever list apply was given: it is ours with any.
std::vector<std::string> WithoutBypassValue(std::vector<std::string> lines) {
  for (std::string& line : lines) {
    if (line.rfind(kBypassLine, 0) == 0) {
      line = std::string(kBypassLine) + "\");";
    }
  }
  return lines;
}

enum class Form { None, Current, Earlier };

Form OurForm(const std::string& userJs) {
  if (WithoutBypassValue(Select(userJs, kKeys, true).Lines()) ==
      WithoutBypassValue(Select(RewriteUserJs("", true, kLocalProxy, ""), kKeys, true).Lines())) {
    return Form::Current;
  }
  const std::vector<std::string> earlier = {"user_pref(\"network.proxy.type\", 1);",
                                            "user_pref(\"network.proxy.http\", \"127.0.0.1\");",
                                            "user_pref(\"network.proxy.http_port\",7070);",
                                            "user_pref(\"network.proxy.no_proxies_on\", \"\");"};
  return Select(userJs, kEarlierKeys, true).Lines() == earlier ? Form::Earlier : Form::None;
}

class NetscapeStep final : public IBrowserStep {
 public:
  explicit NetscapeStep(const StepEnvironment& environment) : environment_(environment) {}

  bool Save(SavedBrowsers& state) override {
    if (state.Find(kStateSection)) {
      return false;
    }
    const auto lines = SaveNetscapeProxy(environment_.ports);
    if (!lines) {
      return false;
    }
    StateSection section{kStateSection, {}};
    for (const std::string& line : *lines) {
      section.Put("Line", line);
    }
    state.sections.push_back(section);
    return true;
  }

  StepResult Apply(const ProxySetting& setting, const SavedBrowsers&) override {
    SetNetscapeProxy(environment_.ports, environment_.context, true, setting.proxy, setting.bypass);
    StepResult result;
    result.ours = Ours();
    const auto path = GetNetscapeUserJsPath(environment_.ports.files, environment_.ports.system);
    if (path && environment_.ports.files.FileExists(*path) && result.ours.empty()) {
      result.notWritten.push_back("Netscape");  // user.js could not be written
    }
    return result;
  }

  bool Restore(const SavedBrowsers* state) override {
    const StateSection* saved = state ? state->Find(kStateSection) : nullptr;
    std::optional<std::vector<std::string>> lines;
    if (saved) {
      lines = saved->All("Line");
    }
    return RestoreNetscapeProxy(environment_.ports, environment_.context, lines);
  }

  std::vector<std::string> Ours() override {
    const auto path = GetNetscapeUserJsPath(environment_.ports.files, environment_.ports.system);
    const auto current = path ? environment_.ports.files.ReadFile(*path) : std::nullopt;
    return current && IsOurUserJs(*current) ? std::vector<std::string>{"Netscape"}
                                            : std::vector<std::string>{};
  }

 private:
  StepEnvironment environment_;
};

}  // namespace

std::optional<std::string> GetNetscapeUserJsPath(IFileSystem& files, ISystem& system) {
  const std::string base = GetAppDataFolder(system) + "Mozilla\\Profiles\\default\\";
  const auto entry = files.FirstMatch(base + "*.slt");
  if (!entry) {
    return std::nullopt;
  }
  return AddTrailingBackslash(AddTrailingBackslash(base) + *entry) + "user.js";
}

std::string RewriteUserJs(const std::string& userJs, bool enable, const std::string& proxy,
                          const std::string& bypass) {
  LineList result = Select(userJs, kKeys, false);
  const HostPort split = enable ? SplitProxy(proxy) : HostPort{};
  // A port line needs a number to be valid preference syntax: 0 when none
  // is known, as on restore.
  const std::string port = split.port.empty() ? "0" : split.port;
  result.Add(std::string("user_pref(\"network.proxy.type\", ") + (enable ? "1" : "0") + ");");
  result.Add("user_pref(\"network.proxy.http\", \"" + split.host + "\");");
  result.Add("user_pref(\"network.proxy.http_port\"," + port + ");");
  result.Add("user_pref(\"network.proxy.ssl\", \"" + split.host + "\");");
  result.Add("user_pref(\"network.proxy.ssl_port\"," + port + ");");
  result.Add(kBypassLine + MozillaBypass(bypass) + "\");");
  return result.Text();
}

bool IsOurUserJs(const std::string& userJs) {
  return OurForm(userJs) != Form::None;
}

std::string RestoreUserJs(const std::string& userJs, const std::vector<std::string>& saved) {
  // Over the earlier form only its own lines go: the user's HTTPS lines
  // are still there.
  if (OurForm(userJs) == Form::Earlier) {
    LineList result = Select(userJs, kEarlierKeys, false);
    const std::vector<std::string> direct = {"user_pref(\"network.proxy.type\", 0);",
                                             "user_pref(\"network.proxy.http\", \"\");",
                                             "user_pref(\"network.proxy.http_port\",0);",
                                             "user_pref(\"network.proxy.no_proxies_on\", \"\");"};
    for (const std::string& line : saved.empty() ? direct : saved) {
      result.Add(line);
    }
    return result.Text();
  }
  if (saved.empty()) {
    return RewriteUserJs(userJs, false, "", "");
  }
  LineList result = Select(userJs, kKeys, false);
  for (const std::string& line : saved) {
    result.Add(line);
  }
  return result.Text();
}

std::optional<std::vector<std::string>> SaveNetscapeProxy(BrowserPorts& ports) {
  const auto path = GetNetscapeUserJsPath(ports.files, ports.system);
  const auto current = path ? ports.files.ReadFile(*path) : std::nullopt;
  if (!current) {
    return std::nullopt;
  }
  switch (OurForm(*current)) {
    case Form::Current:
      return std::vector<std::string>{};
    case Form::Earlier: {
      std::vector<std::string> users;  // the user's HTTPS lines
      const LineList proxyLines = Select(*current, kKeys, true);
      for (const std::string& line : proxyLines.Lines()) {
        if (!IsProxyLine(line, kEarlierKeys)) {
          users.push_back(line);
        }
      }
      return users;
    }
    case Form::None:
      break;
  }
  return Select(*current, kKeys, true).Lines();
}

void SetNetscapeProxy(BrowserPorts& ports, const BrowserContext& context, bool enable,
                      const std::string& proxy, const std::string& bypass) {
  const auto path = GetNetscapeUserJsPath(ports.files, ports.system);
  if (path) {
    // Only an existing user.js that can be read to its end is rewritten: a
    // profile without one keeps none, and a part read is never written back.
    if (const auto current = ports.files.ReadFile(*path)) {
      std::string error;
      (void)ports.files.ReplaceFileSafely(*path, RewriteUserJs(*current, enable, proxy, bypass),
                                          error);
    }
  }
  if (GetRunningBrowser(ports.processes) == "Netscape") {
    NotifyRestart(ports, context, "Netscape");
  }
}

bool RestoreNetscapeProxy(BrowserPorts& ports, const BrowserContext& context,
                          const std::optional<std::vector<std::string>>& saved) {
  bool restored = true;
  const auto path = GetNetscapeUserJsPath(ports.files, ports.system);
  if (path && ports.files.FileExists(*path)) {
    const auto current = ports.files.ReadFile(*path);
    std::string error;
    if (!current) {
      restored = false;  // cannot tell, and must not write back a part
    } else if (IsOurUserJs(*current)) {
      restored = ports.files.ReplaceFileSafely(
          *path, RestoreUserJs(*current, saved.value_or(std::vector<std::string>{})), error);
    }
  }
  if (GetRunningBrowser(ports.processes) == "Netscape") {
    NotifyRestart(ports, context, "Netscape");
  }
  return restored;
}

std::unique_ptr<IBrowserStep> MakeNetscapeStep(const StepEnvironment& environment) {
  return std::make_unique<NetscapeStep>(environment);
}

}  // namespace umbrane
