// The agent's relays: the list it may use (the update service's newer one
// in the user's folder, else the build's), the relay of its command line
// among them, and the order it tries them in at start. The relay found
// good last time comes first (kept in the user's folder across runs), then
// the command line's, then the others in random order, so that users do
// not all lean on one after their first relay is blocked.
#pragma once

#include <filesystem>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tunnel/RelayList.h"

namespace warden {

using umbrane::RelayEntry;

struct Relays {
  std::vector<RelayEntry> list;    // the log names each by its place: 1, 2, ...
  std::vector<std::size_t> order;  // indexes into `list`, the first to try first
};

// `kept`: the list file's text, when there is one; `lastGood`: the name
// ("ADDRESS:PORT") of the relay found good last time. A kept list that is
// not one is passed over, and `note` says so. `pinned`: a build that knows
// relays by their keys only, which passes over an entry without pins (it
// would otherwise be trusted on the system's roots).
Relays ChooseRelays(const RelayEntry& commandLine, const std::string& buildList,
                    const std::optional<std::string>& kept, const std::string& lastGood,
                    bool pinned, std::minstd_rand& random, std::string& note);

// "relay 2 of 3": how the log names a relay (never by its address, which
// an onlooker of the log would learn).
std::string Place(const Relays& relays, std::size_t index);

// The user's folder, where the list and the relay found good are kept:
// Umbrane's own on Windows; natively only when WARDEN_FOLDER names one.
std::optional<std::filesystem::path> RelayFolder();
inline constexpr const char* kListFile = umbrane::kRelayListFile;
inline constexpr char kInUseFile[] = "relay-in-use.txt";
std::optional<std::string> ReadKept(const char* name);
void Keep(const char* name, const std::string& text);

}  // namespace warden
