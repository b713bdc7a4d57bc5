// Reading a table the system fills into a caller's buffer and whose size it
// tells only when asked, such as the table of TCP connections: between the
// question and the read the table may grow (another program, another user
// too, can keep it growing on purpose), so the read is tried again with the
// size the system last named and some room to spare, many times, instead
// of being given up on after a few.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace umbrane {

enum class TableRead { Done, TooSmall, Failed };

// `read(buffer, size)` fills `buffer` of `*size` bytes and says Done, or
// sets `*size` to what it needs and says TooSmall, or Failed. The table, or
// nothing when it failed or stayed bigger than the buffer `tries` times.
template <typename Read>
std::optional<std::vector<unsigned char> > ReadGrowingTable(Read read, int tries = 64) {
  std::uint32_t size = 16 * 1024;
  std::vector<unsigned char> buffer;
  for (int i = 0; i < tries; ++i) {
    buffer.resize(size);
    std::uint32_t asked = size;
    switch (read(buffer.data(), &asked)) {
      case TableRead::Done:
        return buffer;
      case TableRead::Failed:
        return std::nullopt;
      case TableRead::TooSmall:
        // A quarter more than named: rows added meanwhile fit.
        size = asked > size ? asked + asked / 4 : size * 2;
        break;
    }
  }
  return std::nullopt;
}

}  // namespace umbrane
