// The agent port: the agent started hidden with its standard output and
// error in one anonymous pipe, inside a job object that ends it when this
// program ends, however it ends.
#pragma once

#include "platform/AgentProcess.h"
#include "win32/Handle.h"

namespace umbrane::win32 {

class Win32AgentLauncher final : public IAgentLauncher {
 public:
  Win32AgentLauncher();

  std::unique_ptr<IAgentProcess> Start(const std::string& program,
                                       const std::string& commandLine) override;

 private:
  // Closed only when the program ends: the system then ends every agent.
  UniqueHandle job_;
};

}  // namespace umbrane::win32
