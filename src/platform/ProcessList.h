// Port: the names of the running processes, for telling which browser runs.
#pragma once

#include <string>
#include <vector>

namespace umbrane {

class IProcessList {
 public:
  virtual ~IProcessList() = default;

  // Executable file names in snapshot order; empty when no snapshot can be
  // taken.
  virtual std::vector<std::string> Names() = 0;
};

}  // namespace umbrane
