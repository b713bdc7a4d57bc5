// Kept apart from the system calls so that the tests can feed it lines.
#include "local/ProcNetTcp.h"

#include <algorithm>
#include <string>

namespace warden {

std::optional<unsigned long> SocketUid(std::string_view table, std::string_view from,
                                       std::string_view to) {
  // A line: "  sl: LOCAL REMOTE st tx:rx tr:when retrnsmt uid timeout inode ...".
  const std::string pair = std::string(from) + " " + std::string(to) + " ";
  for (std::size_t at = table.find(pair); at != std::string_view::npos;
       at = table.find(pair, at + 1)) {
    const std::size_t lineStart = table.rfind('\n', at) + 1;  // npos + 1 is the start
    // The pair must be the line's first two addresses, not a later field.
    const std::string_view before = table.substr(lineStart, at - lineStart);
    const std::size_t colon = before.find(':');
    if (colon == std::string_view::npos ||
        before.find_first_not_of(' ', colon + 1) != std::string_view::npos) {
      continue;
    }
    std::string_view rest = table.substr(at + pair.size());
    rest = rest.substr(0, rest.find('\n'));
    // After the pair: st, tx:rx, tr:when, retrnsmt, then the uid.
    for (int field = 0; field < 4; ++field) {
      const std::size_t start = rest.find_first_not_of(' ');
      if (start == std::string_view::npos) {
        return std::nullopt;
      }
      rest.remove_prefix(start);
      rest.remove_prefix(std::min(rest.find(' '), rest.size()));
    }
    const std::size_t start = rest.find_first_not_of(' ');
    if (start == std::string_view::npos || rest[start] < '0' || rest[start] > '9') {
      return std::nullopt;
    }
    unsigned long uid = 0;
    for (std::size_t i = start; i < rest.size() && rest[i] >= '0' && rest[i] <= '9'; ++i) {
      uid = uid * 10 + static_cast<unsigned long>(rest[i] - '0');
    }
    return uid;
  }
  return std::nullopt;
}

}  // namespace warden
