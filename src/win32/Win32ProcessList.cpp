#include "win32/Win32ProcessList.h"

#include <windows.h>
#include <tlhelp32.h>

#include "win32/Handle.h"

#ifndef _WIN64
static_assert(sizeof(PROCESSENTRY32) == 296, "the single-byte process record of 32-bit Windows");
#endif

namespace umbrane::win32 {

namespace {

using SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using WalkFn = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*);

struct Toolhelp {
  SnapshotFn snapshot = nullptr;
  WalkFn first = nullptr;
  WalkFn next = nullptr;
};

template <typename Fn>
Fn Resolve(HMODULE module, const char* name) {
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(module, name)));
}

const Toolhelp& ResolveToolhelp() {
  static const Toolhelp toolhelp = [] {
    Toolhelp t;
    if (HMODULE kernel = GetModuleHandleA("kernel32.dll")) {
      t.snapshot = Resolve<SnapshotFn>(kernel, "CreateToolhelp32Snapshot");
      t.first = Resolve<WalkFn>(kernel, "Process32First");
      t.next = Resolve<WalkFn>(kernel, "Process32Next");
    }
    return t;
  }();
  return toolhelp;
}

// Calls `visit` with each process of a snapshot until it says stop.
template <typename Visit>
void EachProcess(Visit visit) {
  const Toolhelp& toolhelp = ResolveToolhelp();
  if (toolhelp.snapshot == nullptr || toolhelp.first == nullptr || toolhelp.next == nullptr) {
    return;
  }
  UniqueHandle snapshot(toolhelp.snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) {
    return;
  }
  PROCESSENTRY32 entry = {};
  entry.dwSize = sizeof entry;
  for (BOOL more = toolhelp.first(snapshot.Get(), &entry); more;
       more = toolhelp.next(snapshot.Get(), &entry)) {
    entry.szExeFile[MAX_PATH - 1] = '\0';
    if (!visit(entry)) {
      return;
    }
  }
}

}  // namespace

std::vector<std::string> Win32ProcessList::Names() {
  std::vector<std::string> names;
  EachProcess([&](const PROCESSENTRY32& entry) {
    names.emplace_back(entry.szExeFile);
    return true;
  });
  return names;
}

std::string ProcessName(std::uint32_t pid) {
  std::string name;
  EachProcess([&](const PROCESSENTRY32& entry) {
    if (entry.th32ProcessID == pid) {
      name = entry.szExeFile;
    }
    return name.empty();
  });
  return name;
}

}  // namespace umbrane::win32
