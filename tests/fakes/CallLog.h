// One ordered record of the calls that several fakes receive, so a test can
// check the order of effects across ports.
#pragma once

#include <string>
#include <vector>

namespace umbrane::fakes {

struct CallLog {
  std::vector<std::string> calls;
  void Add(std::string call) { calls.push_back(std::move(call)); }
};

}  // namespace umbrane::fakes
