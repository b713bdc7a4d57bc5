#include "local/BufferPool.h"

#include <vector>

namespace warden {
namespace {

constexpr std::size_t kPooledBuffers = 64;  // kept for reuse; more are freed

std::vector<std::unique_ptr<PumpBuffer>>& FreeBuffers() {
  static std::vector<std::unique_ptr<PumpBuffer>> free;
  return free;
}

}  // namespace

std::shared_ptr<PumpBuffer> LendBuffer() {
  auto& free = FreeBuffers();
  std::unique_ptr<PumpBuffer> buffer;
  if (free.empty()) {
    buffer = std::make_unique<PumpBuffer>();
  } else {
    buffer = std::move(free.back());
    free.pop_back();
  }
  return std::shared_ptr<PumpBuffer>(buffer.release(), [](PumpBuffer* returned) {
    if (FreeBuffers().size() < kPooledBuffers) {
      FreeBuffers().emplace_back(returned);
    } else {
      delete returned;
    }
  });
}

}  // namespace warden
