#include "win32/Win32FileSystem.h"

#include <aclapi.h>

#include <algorithm>

#include "win32/Handle.h"
#include "win32/SystemError.h"
#include "win32/UserObjects.h"

namespace umbrane::win32 {

bool Win32FileSystem::FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Win32FileSystem::FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool Win32FileSystem::CreateFolder(const std::string& path) {
  return CreateDirectoryA(path.c_str(), nullptr) != FALSE;
}

namespace {

class Win32OpenFile final : public IOpenFile {
 public:
  explicit Win32OpenFile(UniqueHandle file) : file_(std::move(file)) {}

  std::size_t Append(std::string_view data, std::string& error) override {
    std::size_t done = 0;
    while (done < data.size()) {
      const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 30));
      DWORD written = 0;
      if (!::WriteFile(file_.Get(), data.data() + done, chunk, &written, nullptr) || written == 0) {
        error = SystemErrorText(GetLastError());
        break;
      }
      done += written;
    }
    return done;
  }

 private:
  UniqueHandle file_;
};

bool WriteAll(HANDLE file, std::string_view data, std::string& error) {
  std::size_t done = 0;
  while (done < data.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 30));
    DWORD written = 0;
    if (!::WriteFile(file, data.data() + done, chunk, &written, nullptr) || written == 0) {
      error = SystemErrorText(GetLastError());
      return false;
    }
    done += written;
  }
  return true;
}

}  // namespace

bool Win32FileSystem::WriteFile(const std::string& path, std::string_view data, WriteMode mode,
                                std::string& error) {
  const bool append = mode == WriteMode::Append;
  UniqueHandle file(CreateFileA(path.c_str(), append ? FILE_APPEND_DATA : GENERIC_WRITE,
                                FILE_SHARE_READ, nullptr, append ? OPEN_ALWAYS : CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    error = SystemErrorText(GetLastError());
    return false;
  }
  return WriteAll(file.Get(), data, error);
}

bool Win32FileSystem::ReplaceFileSafely(const std::string& path, std::string_view data,
                                        std::string& error) {
  // Same folder, so the move is a rename on one volume and never a copy.
  const std::string temporary = path + ".umbrane-new";
  bool written = false;
  {
    UniqueHandle file(CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) {
      error = SystemErrorText(GetLastError());
      return false;
    }
    written = WriteAll(file.Get(), data, error);
    if (written && !FlushFileBuffers(file.Get())) {
      error = SystemErrorText(GetLastError());
      written = false;
    }
  }
  if (written && MoveFileExA(temporary.c_str(), path.c_str(),
                             MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    return true;
  }
  if (written) {
    error = SystemErrorText(GetLastError());
  }
  (void)DeleteFileA(temporary.c_str());  // nothing half-written is left behind
  return false;
}

std::unique_ptr<IOpenFile> Win32FileSystem::OpenForAppend(const std::string& path, bool replace,
                                                          std::string& error) {
  // Appending access: every write lands at the end, whatever else has the
  // file open. Readers (the text editor of "Report...") are welcome.
  UniqueHandle file(CreateFileA(path.c_str(), FILE_APPEND_DATA | (replace ? GENERIC_WRITE : 0),
                                FILE_SHARE_READ, nullptr, replace ? CREATE_ALWAYS : OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    error = SystemErrorText(GetLastError());
    return nullptr;
  }
  return std::make_unique<Win32OpenFile>(std::move(file));
}

bool Win32FileSystem::RemoveFile(const std::string& path) {
  return DeleteFileA(path.c_str()) != FALSE;
}

bool Win32FileSystem::RenameFile(const std::string& from, const std::string& to) {
  return MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != FALSE;
}

std::optional<std::string> Win32FileSystem::FirstMatch(const std::string& pattern) {
  WIN32_FIND_DATAA found = {};
  HANDLE search = FindFirstFileA(pattern.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  (void)FindClose(search);  // a search handle, not a kernel handle
  return std::string(found.cFileName);
}

std::optional<std::string> Win32FileSystem::ReadFile(const std::string& path) {
  UniqueHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.Valid()) {
    return std::nullopt;
  }
  std::string content;
  char buffer[65536];
  for (;;) {
    DWORD read = 0;
    if (!::ReadFile(file.Get(), buffer, sizeof buffer, &read, nullptr)) {
      // An error part-way is not the end of the file: a caller that
      // rewrote what it got would drop the rest.
      return std::nullopt;
    }
    if (read == 0) {
      return content;
    }
    content.append(buffer, read);
  }
}

std::string Win32FileSystem::OthersWhoMayChange(const std::string& folder) {
  PSID owner = nullptr;
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(folder.c_str(), SE_FILE_OBJECT,
                            OWNER_SECURITY_INFORMATION | DACL_SECURITY_INFORMATION, &owner, nullptr,
                            &list, nullptr, &descriptor) != ERROR_SUCCESS) {
    return {};
  }
  std::string who = win32::OthersWhoMayChange(owner, list);
  (void)LocalFree(descriptor);
  return who;
}

}  // namespace umbrane::win32
