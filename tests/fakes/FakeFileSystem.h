// An in-memory file system with Windows paths: names compare without regard
// to case, a file or folder can only be made inside an existing folder, and
// single paths can be set to fail.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>

#include "CallLog.h"
#include "platform/FileSystem.h"

namespace umbrane::fakes {

class FakeFileSystem : public IFileSystem {
 public:
  explicit FakeFileSystem(CallLog* log = nullptr) : log_(log) {}

  // Adds a folder and all its parents.
  void AddFolder(const std::string& path);
  // Adds a file (and its folders).
  void AddFile(const std::string& path, const std::string& content);
  std::optional<std::string> Content(const std::string& path) const;

  // Writes to this path fail until the switch is cleared.
  std::set<std::string> failingWrites;
  // Reads of this path fail (the file exists but cannot be read whole).
  std::set<std::string> failingReads;
  // Renames of this path fail (it is open elsewhere, say); writes do not.
  std::set<std::string> failingRenames;
  // Folders that cannot be created even though their parent exists.
  std::set<std::string> failingFolders;
  int writeCount = 0;
  // Appends to this path write only so many bytes before they fail.
  std::map<std::string, std::size_t> shortAppends;
  int opens = 0;  // files opened for appending
  // Where each line appended to an open file goes, as "Report <message>"
  // (the text after "] "), in order with the other effects.
  CallLog* appendLog = nullptr;

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
  // Folders others may change, with who.
  std::map<std::string, std::string> openFolders;
  std::string OthersWhoMayChange(const std::string& folder) override {
    const auto it = openFolders.find(folder);
    return it == openFolders.end() ? std::string() : it->second;
  }

 private:
  class OpenFile;
  static std::string Key(const std::string& path);
  bool ParentExists(const std::string& key) const;

  CallLog* log_;
  std::map<std::string, std::string> files_;
  std::set<std::string> folders_;
};

}  // namespace umbrane::fakes
