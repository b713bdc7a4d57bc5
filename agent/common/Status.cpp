#include "common/Status.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

namespace warden {

void Status(const char* code, const std::string& text) {
  const std::string line = std::string(code) + " " + text + "\r\n";
  std::fwrite(line.data(), 1, line.size(), stdout);
  std::fflush(stdout);
}

[[noreturn]] void Stop(const char* code, const std::string& text) {
  Status(code, text);
  if (std::strcmp(code, status::kCannotConnect) != 0) {
    Status(status::kCannotConnect, "the agent cannot go on");
  }
  for (;;) {
    std::this_thread::sleep_for(std::chrono::hours(24));
  }
}

}  // namespace warden
