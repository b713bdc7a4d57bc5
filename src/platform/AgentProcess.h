// Port: starting the tunnel agent with its console output in a pipe, and the
// running agent. Destroying an IAgentProcess releases its handles; it does
// not end the agent.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace umbrane {

// The exit code the system reports while a process runs.
inline constexpr std::uint32_t kStillActive = 259;

class IAgentProcess {
 public:
  virtual ~IAgentProcess() = default;

  // The exit code (kStillActive while it runs); nothing when it cannot be
  // asked.
  virtual std::optional<std::uint32_t> ExitCode() = 0;
  // Ends the agent with exit code 0.
  virtual bool Terminate() = 0;
  // How many bytes wait in the pipe, without blocking; nothing when the pipe
  // failed (for example broken after the agent ended and was drained).
  virtual std::optional<std::size_t> Peek() = 0;
  // Reads at most `max` bytes that a peek has seen (so it never blocks).
  virtual std::string Read(std::size_t max) = 0;
  // Waits at most `ms` milliseconds for output to arrive in an empty pipe;
  // true when some has. Lets one poll follow an agent in the middle of a
  // burst instead of leaving the rest for the next second.
  virtual bool AwaitOutput(unsigned ms) = 0;
};

class IAgentLauncher {
 public:
  virtual ~IAgentLauncher() = default;

  // Starts the program file `program` (a full path: the system's search
  // order, the current folder and PATH first, never decides which program
  // runs; empty: the first word of the command line, searched) with
  // `commandLine`, hidden, with standard output and error in one pipe;
  // nothing when the process cannot be created. The agent ends with the
  // program at the latest.
  virtual std::unique_ptr<IAgentProcess> Start(const std::string& program,
                                               const std::string& commandLine) = 0;

  // Listens on 127.0.0.1:`port` for the agents to come: each agent started
  // takes the listening socket over, and it stays bound between them, so
  // that no other program can take the port while the browsers point at
  // it. Empty when held (or held already); else why it cannot be, naming
  // the program that holds the port where the system says.
  virtual std::string HoldPort(std::uint16_t port) = 0;
  // Lets the port go (the agent running keeps its own hold until it ends).
  virtual void ReleasePort() = 0;
};

}  // namespace umbrane
