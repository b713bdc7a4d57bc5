// The agent's command line, as Umbrane builds it:
//
//   warden -name USER -key TOKEN -do -H LOCALPORT -umbrane -port RELAYPORT -say RELAYIP
//
// Options in any order; "-do" and "-umbrane" take no value.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace warden {

struct Options {
  std::string user;
  std::string token;
  std::uint16_t localPort = 0;
  std::uint16_t relayPort = 0;
  std::string relayAddress;
};

// The options, or nothing with `problem` saying what is wrong.
std::optional<Options> ParseOptions(int argc, char** argv, std::string& problem);

}  // namespace warden
