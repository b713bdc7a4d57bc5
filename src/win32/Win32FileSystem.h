// The file-system port on the Win32 file API (ANSI paths).
#pragma once

#include "platform/FileSystem.h"

namespace umbrane::win32 {

class Win32FileSystem final : public IFileSystem {
 public:
  bool FileExists(const std::string& path) override;
  bool FolderExists(const std::string& path) override;
  bool CreateFolder(const std::string& path) override;
  bool WriteFile(const std::string& path, std::string_view data, WriteMode mode,
                 std::string& error) override;
  bool ReplaceFileSafely(const std::string& path, std::string_view data,
                         std::string& error) override;
  std::unique_ptr<IOpenFile> OpenForAppend(const std::string& path, bool replace,
                                           std::string& error) override;
  bool RemoveFile(const std::string& path) override;
  bool RenameFile(const std::string& from, const std::string& to) override;
  std::optional<std::string> FirstMatch(const std::string& pattern) override;
  std::optional<std::string> ReadFile(const std::string& path) override;
  std::string OthersWhoMayChange(const std::string& folder) override;
};

}  // namespace umbrane::win32
