#include "win32/Win32AgentLauncher.h"

#include <winsock2.h>
#include <windows.h>
#include <iphlpapi.h>

#include "base/GrowingTable.h"
#include "tunnel/AgentCommand.h"
#include "win32/SystemError.h"
#include "win32/Win32ProcessList.h"

#ifndef _WIN64
static_assert(sizeof(STARTUPINFOA) == 68, "the start-up record of 32-bit Windows");
#endif

namespace umbrane::win32 {

namespace {

class Win32Agent final : public IAgentProcess {
 public:
  Win32Agent(UniqueHandle process, UniqueHandle thread, UniqueHandle pipe)
      : process_(std::move(process)), thread_(std::move(thread)), pipe_(std::move(pipe)) {}

  std::optional<std::uint32_t> ExitCode() override {
    DWORD code = 0;
    if (!GetExitCodeProcess(process_.Get(), &code)) {
      return std::nullopt;
    }
    return code;
  }

  bool Terminate() override { return TerminateProcess(process_.Get(), 0) != FALSE; }

  std::optional<std::size_t> Peek() override {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe_.Get(), nullptr, 0, nullptr, &available, nullptr)) {
      return std::nullopt;
    }
    return available;
  }

  bool AwaitOutput(unsigned ms) override {
    const ULONGLONG deadline = GetTickCount64() + ms;
    for (;;) {
      if (Peek().value_or(0) > 0) {
        return true;
      }
      if (GetTickCount64() >= deadline) {
        return false;
      }
      Sleep(1);
    }
  }

  std::string Read(std::size_t max) override {
    std::string buffer(max, '\0');
    DWORD read = 0;
    if (!ReadFile(pipe_.Get(), buffer.data(), static_cast<DWORD>(max), &read, nullptr)) {
      return {};
    }
    buffer.resize(read);
    return buffer;
  }

 private:
  UniqueHandle process_;
  UniqueHandle thread_;
  UniqueHandle pipe_;
};

// Who listens on 127.0.0.1:`port` (or on every address at it): the
// program's name and process where the system says.
std::string PortHolder(std::uint16_t port) {
  const auto buffer = ReadGrowingTable([](unsigned char* into, std::uint32_t* size) {
    DWORD asked = *size;
    const DWORD result =
        GetExtendedTcpTable(into, &asked, FALSE, AF_INET, TCP_TABLE_OWNER_PID_LISTENER, 0);
    *size = asked;
    return result == NO_ERROR                    ? TableRead::Done
           : result == ERROR_INSUFFICIENT_BUFFER ? TableRead::TooSmall
                                                 : TableRead::Failed;
  });
  DWORD pid = 0;
  if (buffer) {
    const auto* table = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(buffer->data());
    for (DWORD i = 0; i < table->dwNumEntries && pid == 0; ++i) {
      const MIB_TCPROW_OWNER_PID& row = table->table[i];
      if (ntohs(static_cast<u_short>(row.dwLocalPort)) == port &&
          (row.dwLocalAddr == htonl(INADDR_LOOPBACK) || row.dwLocalAddr == htonl(INADDR_ANY))) {
        pid = row.dwOwningPid;
      }
    }
  }
  if (pid == 0) {
    return "it is used by another program";
  }
  std::string name = ProcessName(pid);
  std::string who = "it is used by ";
  if (!name.empty()) {
    who.append(name).append(" (process ").append(std::to_string(pid)).append(")");
  } else {
    who.append("process ").append(std::to_string(pid));
  }
  return who;
}

}  // namespace

Win32AgentLauncher::Win32AgentLauncher() : job_(CreateJobObjectA(nullptr, nullptr)) {
  WSADATA data = {};
  sockets_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = {};
  limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE;
  if (job_.Valid()) {
    // Without the limit the agent still runs; it only outlives a crash.
    (void)SetInformationJobObject(job_.Get(), JobObjectExtendedLimitInformation, &limits,
                                  sizeof limits);
  }
}

std::unique_ptr<IAgentProcess> Win32AgentLauncher::Start(const std::string& program,
                                                         const std::string& commandLine) {
  SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  // Room for a burst: an agent that writes faster than the poll reads never
  // blocks on a full pipe for long.
  constexpr DWORD kPipeBytes = 1024 * 1024;
  if (!CreatePipe(&readEnd, &writeEnd, &inheritable, kPipeBytes)) {
    return nullptr;
  }
  UniqueHandle pipe(readEnd);
  UniqueHandle childOutput(writeEnd);
  // Our end stays with us: an agent holding it could keep the pipe open.
  (void)SetHandleInformation(pipe.Get(), HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW | STARTF_USESTDHANDLES;
  startup.wShowWindow = SW_HIDE;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = childOutput.Get();
  startup.hStdError = childOutput.Get();
  PROCESS_INFORMATION info = {};
  std::string command = commandLine;  // CreateProcessA may write to it
  // The listening socket goes to this agent alone: inheritable, and named
  // in the environment it copies, only while it is created.
  const auto listening = reinterpret_cast<HANDLE>(listening_);
  const bool handing = listening_ != static_cast<std::uintptr_t>(INVALID_SOCKET);
  // Never a name left in this program's own environment by someone else.
  (void)SetEnvironmentVariableA(kListenSocketVariable,
                                handing ? std::to_string(listening_).c_str() : nullptr);
  if (handing) {
    (void)SetHandleInformation(listening, HANDLE_FLAG_INHERIT, HANDLE_FLAG_INHERIT);
  }
  // Suspended until it is in the job, so nothing it starts escapes the job.
  const BOOL created =
      CreateProcessA(program.empty() ? nullptr : program.c_str(), command.data(), nullptr, nullptr,
                     TRUE, CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr,
                     nullptr, &startup, &info);
  childOutput.Reset();  // the parent's copy of the write end, in every case
  if (handing) {
    (void)SetEnvironmentVariableA(kListenSocketVariable, nullptr);
    (void)SetHandleInformation(listening, HANDLE_FLAG_INHERIT, 0);
  }
  if (!created) {
    return nullptr;
  }
  UniqueHandle process(info.hProcess);
  UniqueHandle thread(info.hThread);
  if (job_.Valid()) {
    (void)AssignProcessToJobObject(job_.Get(), process.Get());
  }
  (void)ResumeThread(thread.Get());
  return std::make_unique<Win32Agent>(std::move(process), std::move(thread), std::move(pipe));
}

Win32AgentLauncher::~Win32AgentLauncher() {
  ReleasePort();
  if (sockets_) {
    (void)WSACleanup();
  }
}

std::string Win32AgentLauncher::HoldPort(std::uint16_t port) {
  if (listening_ != static_cast<std::uintptr_t>(INVALID_SOCKET)) {
    return {};
  }
  if (!sockets_) {
    return "Windows Sockets cannot be started";
  }
  // Overlapped, as the agent's own sockets are: it waits on it through a
  // completion port.
  const SOCKET s = WSASocketA(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_OVERLAPPED);
  if (s == INVALID_SOCKET) {
    return SystemErrorText(static_cast<DWORD>(WSAGetLastError()));
  }
  (void)SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  const BOOL exclusive = TRUE;
  sockaddr_in local = {};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&exclusive),
                 sizeof exclusive) == SOCKET_ERROR ||
      bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) == SOCKET_ERROR ||
      listen(s, SOMAXCONN) == SOCKET_ERROR) {
    const int error = WSAGetLastError();
    (void)closesocket(s);
    if (error == WSAEADDRINUSE || error == WSAEACCES) {
      return PortHolder(port);
    }
    std::string text = SystemErrorText(static_cast<DWORD>(error));
    if (!text.empty() && text.back() == '.') {
      text.pop_back();
    }
    return text;
  }
  listening_ = s;
  return {};
}

void Win32AgentLauncher::ReleasePort() {
  if (listening_ != static_cast<std::uintptr_t>(INVALID_SOCKET)) {
    (void)closesocket(static_cast<SOCKET>(listening_));
    listening_ = static_cast<std::uintptr_t>(INVALID_SOCKET);
  }
}

}  // namespace umbrane::win32
