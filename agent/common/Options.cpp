#include "common/Options.h"

#include <cstdlib>
#include <map>

namespace warden {
namespace {

std::optional<std::uint16_t> PortNumber(const std::string& text) {
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  if (text.empty() || *end != '\0' || value < 1 || value > 65535) {
    return std::nullopt;
  }
  return static_cast<std::uint16_t>(value);
}

}  // namespace

std::optional<Options> ParseOptions(int argc, char** argv, std::string& problem) {
  std::map<std::string, std::string> values;
  for (int i = 1; i < argc; ++i) {
    const std::string name = argv[i];
    if (name == "-do" || name == "-umbrane") {
      continue;
    }
    if ((name == "-name" || name == "-key" || name == "-H" || name == "-port" || name == "-say") &&
        i + 1 < argc) {
      values[name] = argv[++i];
      continue;
    }
    problem = "unknown or incomplete option " + name;
    return std::nullopt;
  }
  for (const char* required : {"-name", "-key", "-H", "-port", "-say"}) {
    if (values.count(required) == 0) {
      problem = std::string("missing ") + required;
      return std::nullopt;
    }
  }
  Options options;
  options.user = values["-name"];
  options.token = values["-key"];
  options.relayAddress = values["-say"];
  const auto local = PortNumber(values["-H"]);
  const auto relay = PortNumber(values["-port"]);
  if (!local || !relay) {
    problem = "a port is not a number from 1 to 65535";
    return std::nullopt;
  }
  options.localPort = *local;
  options.relayPort = *relay;
  return options;
}

}  // namespace warden
