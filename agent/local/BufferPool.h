// The buffers that carry a client's bytes, lent per read and given back once
// the bytes are written: memory follows the traffic, not the number of
// connections. Everything runs on the one thread of the io_context, so no
// lock.
#pragma once

#include <array>
#include <memory>

namespace warden {

using PumpBuffer = std::array<char, 64 * 1024>;

// A buffer, from those given back when there are any; it returns to them
// when the last holder lets it go (up to a number kept for reuse).
std::shared_ptr<PumpBuffer> LendBuffer();

}  // namespace warden
