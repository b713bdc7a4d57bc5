// The agent port: the agent started hidden with its standard output and
// error in one anonymous pipe, inside a job object that ends it when this
// program ends, however it ends. The local proxy's listening socket is this
// program's (exclusive use, so that no other socket shares the port even
// with address reuse): each agent inherits it, and it stays bound while one
// agent is replaced by the next.
#pragma once

#include <cstdint>

#include "platform/AgentProcess.h"
#include "win32/Handle.h"

namespace umbrane::win32 {

class Win32AgentLauncher final : public IAgentLauncher {
 public:
  Win32AgentLauncher();
  ~Win32AgentLauncher() override;
  Win32AgentLauncher(const Win32AgentLauncher&) = delete;
  Win32AgentLauncher& operator=(const Win32AgentLauncher&) = delete;

  std::unique_ptr<IAgentProcess> Start(const std::string& program,
                                       const std::string& commandLine) override;
  std::string HoldPort(std::uint16_t port) override;
  void ReleasePort() override;

 private:
  // Closed only when the program ends: the system then ends every agent.
  UniqueHandle job_;
  bool sockets_ = false;                           // Windows Sockets started
  std::uintptr_t listening_ = ~std::uintptr_t{0};  // a SOCKET, or none
};

}  // namespace umbrane::win32
