#include "win32/Win32AgentLauncher.h"

#include <windows.h>

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

}  // namespace

Win32AgentLauncher::Win32AgentLauncher() : job_(CreateJobObjectA(nullptr, nullptr)) {
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
  // Suspended until it is in the job, so nothing it starts escapes the job.
  const BOOL created =
      CreateProcessA(program.empty() ? nullptr : program.c_str(), command.data(), nullptr, nullptr,
                     TRUE, CREATE_NO_WINDOW | NORMAL_PRIORITY_CLASS | CREATE_SUSPENDED, nullptr,
                     nullptr, &startup, &info);
  childOutput.Reset();  // the parent's copy of the write end, in every case
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

}  // namespace umbrane::win32
