#include "tunnel/RelayList.h"

#include <algorithm>

namespace umbrane {
namespace {

constexpr std::string_view kSpace = " \t\r";

std::string_view Trimmed(std::string_view text) {
  const auto first = text.find_first_not_of(kSpace);
  if (first == std::string_view::npos) {
    return {};
  }
  return text.substr(first, text.find_last_not_of(kSpace) - first + 1);
}

// Digits only, at most `most`, no leading zero but "0" itself.
std::optional<unsigned> Decimal(std::string_view text, unsigned most) {
  if (text.empty() || text.size() > 5 || (text.size() > 1 && text[0] == '0') ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  unsigned value = 0;
  for (const char c : text) {
    value = value * 10 + static_cast<unsigned>(c - '0');
  }
  return value <= most ? std::optional<unsigned>(value) : std::nullopt;
}

bool IsIpv4(std::string_view text) {
  for (int part = 0; part < 4; ++part) {
    const auto dot = part < 3 ? text.find('.') : text.size();
    if (dot == std::string_view::npos || !Decimal(text.substr(0, dot), 255)) {
      return false;
    }
    text.remove_prefix(std::min(dot + 1, text.size()));
  }
  return text.empty();
}

// The base64 of 32 bytes: 43 characters of the alphabet, the last of them
// one that leaves no bits over, then "=".
bool IsPin(std::string_view pin) {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (pin.size() != 44 || pin[43] != '=') {
    return false;
  }
  for (std::size_t i = 0; i < 43; ++i) {
    const auto at = kAlphabet.find(pin[i]);
    if (at == std::string_view::npos || (i == 42 && at % 4 != 0)) {
      return false;
    }
  }
  return true;
}

std::optional<RelayEntry> ParseEntry(std::string_view text, std::string& problem) {
  const auto equals = text.find('=');
  const std::string_view where = text.substr(0, equals);
  RelayEntry entry;
  const auto colon = where.rfind(':');
  const auto port =
      colon == std::string_view::npos ? std::nullopt : Decimal(where.substr(colon + 1), 65535);
  if (!port || *port == 0 || !IsIpv4(where.substr(0, colon))) {
    problem.assign(1, '"').append(where).append("\" is not ADDRESS:PORT (an IPv4 address)");
    return std::nullopt;
  }
  entry.address = std::string(where.substr(0, colon));
  entry.port = static_cast<std::uint16_t>(*port);
  if (equals == std::string_view::npos) {
    return entry;
  }
  std::string_view pins = text.substr(equals + 1);
  while (true) {
    const auto bar = pins.find('|');
    const std::string_view pin = pins.substr(0, bar);
    if (!IsPin(pin)) {
      problem.assign(1, '"').append(pin).append("\" is not a pin (the base64 of 32 bytes)");
      return std::nullopt;
    }
    entry.pins.emplace_back(pin);
    if (bar == std::string_view::npos) {
      break;
    }
    pins.remove_prefix(bar + 1);
  }
  if (entry.pins.size() > kMostPinsPerRelay) {
    problem = entry.Name().append(" has too many pins");
    return std::nullopt;
  }
  return entry;
}

}  // namespace

std::optional<std::vector<RelayEntry>> ParseRelayList(std::string_view text, std::string& problem) {
  std::vector<RelayEntry> relays;
  while (!text.empty()) {
    const auto end = std::min(text.find_first_of(",\n"), text.size());
    const std::string_view item = Trimmed(text.substr(0, end));
    text.remove_prefix(std::min(end + 1, text.size()));
    if (item.empty()) {
      continue;
    }
    auto entry = ParseEntry(item, problem);
    if (!entry) {
      return std::nullopt;
    }
    if (std::any_of(relays.begin(), relays.end(),
                    [&](const RelayEntry& r) { return r.Name() == entry->Name(); })) {
      problem = entry->Name().append(" is named twice");
      return std::nullopt;
    }
    relays.push_back(std::move(*entry));
    if (relays.size() > kMostRelays) {
      problem = std::to_string(relays.size()).append(" relays are too many");
      return std::nullopt;
    }
  }
  if (relays.empty()) {
    problem = "no relay";
    return std::nullopt;
  }
  return relays;
}

std::string RelayListText(const std::vector<RelayEntry>& relays) {
  std::string text;
  for (const RelayEntry& relay : relays) {
    text.append(relay.Name());
    for (std::size_t i = 0; i < relay.pins.size(); ++i) {
      text.append(i == 0 ? "=" : "|").append(relay.pins[i]);
    }
    text.append("\n");
  }
  return text;
}

}  // namespace umbrane
