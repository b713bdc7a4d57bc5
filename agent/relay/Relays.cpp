#include "relay/Relays.h"

#include <algorithm>
#include <cstdlib>
#include <fstream>

namespace warden {

Relays ChooseRelays(const RelayEntry& commandLine, const std::string& buildList,
                    const std::optional<std::string>& kept, const std::string& lastGood,
                    bool pinned, std::minstd_rand& random, std::string& note) {
  Relays relays;
  std::string problem;
  if (kept) {
    if (auto list = umbrane::ParseRelayList(*kept, problem)) {
      relays.list = std::move(*list);
    } else {
      note = std::string("the kept relay list is passed over: ") + problem;
    }
  }
  if (relays.list.empty() && !buildList.empty()) {
    relays.list = umbrane::ParseRelayList(buildList, problem).value_or(std::vector<RelayEntry>{});
  }
  if (pinned) {
    std::erase_if(relays.list, [](const RelayEntry& r) { return r.pins.empty(); });
  }
  const auto named = [&](const std::string& name) {
    return static_cast<std::size_t>(
        std::find_if(relays.list.begin(), relays.list.end(),
                     [&](const RelayEntry& r) { return r.Name() == name; }) -
        relays.list.begin());
  };
  if (named(commandLine.Name()) == relays.list.size() &&
      (!pinned || !commandLine.pins.empty() || relays.list.empty())) {
    // (Without pins in a pinned build only when there is no other: its
    // connections then fail, and say why.)
    relays.list.insert(relays.list.begin(), commandLine);
  }
  const std::size_t first = named(commandLine.Name());
  const std::size_t good = named(lastGood);
  for (std::size_t i = 0; i < relays.list.size(); ++i) {
    if (i != first && i != good) {
      relays.order.push_back(i);
    }
  }
  std::shuffle(relays.order.begin(), relays.order.end(), random);
  for (const std::size_t leading : {first, good}) {
    if (leading < relays.list.size() &&
        std::find(relays.order.begin(), relays.order.end(), leading) == relays.order.end()) {
      relays.order.insert(relays.order.begin(), leading);
    }
  }
  return relays;
}

std::string Place(const Relays& relays, std::size_t index) {
  return "relay " + std::to_string(index + 1) + " of " + std::to_string(relays.list.size());
}

std::optional<std::filesystem::path> RelayFolder() {
#ifdef _WIN32
  const wchar_t* data = _wgetenv(L"APPDATA");
  if (data == nullptr || *data == L'\0') {
    return std::nullopt;
  }
  return std::filesystem::path(data) / "Umbrane";
#else
  const char* folder = std::getenv("WARDEN_FOLDER");
  if (folder == nullptr || *folder == '\0') {
    return std::nullopt;
  }
  return std::filesystem::path(folder);
#endif
}

std::optional<std::string> ReadKept(const char* name) {
  const auto folder = RelayFolder();
  if (!folder) {
    return std::nullopt;
  }
  std::ifstream file(*folder / name, std::ios::binary);
  if (!file) {
    return std::nullopt;
  }
  // More than any list of kMostRelays entries: not one of ours.
  std::string text(64 * 1024, '\0');
  file.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<std::size_t>(file.gcount()));
  return text;
}

void Keep(const char* name, const std::string& text) {
  const auto folder = RelayFolder();
  if (!folder) {
    return;
  }
  // Written aside, then moved over: a reader never sees half of it.
  const auto path = *folder / name;
  auto aside = path;
  aside += ".new";
  {
    std::ofstream file(aside, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file.flush()) {
      return;
    }
  }
  std::error_code ignored;
  std::filesystem::rename(aside, path, ignored);
}

}  // namespace warden
