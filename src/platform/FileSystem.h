// Port: the files and folders the core reads and writes. Paths are Windows
// paths (backslashes) everywhere, also in the in-memory fake of the tests.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace umbrane {

enum class WriteMode { Replace, Append };

// A file held open for writing at its end; closed when destroyed.
class IOpenFile {
 public:
  virtual ~IOpenFile() = default;
  // Writes `data` at the end of the file and returns how many bytes went
  // out: all of them, or fewer with `error` set to the system's reason.
  virtual std::size_t Append(std::string_view data, std::string& error) = 0;
};

class IFileSystem {
 public:
  virtual ~IFileSystem() = default;

  virtual bool FileExists(const std::string& path) = 0;
  virtual bool FolderExists(const std::string& path) = 0;
  // Creates the last level of `path` only; false when that fails (for
  // example because the parent folder does not exist).
  virtual bool CreateFolder(const std::string& path) = 0;
  // Writes `data` to the file, creating it when missing. On failure returns
  // false and sets `error` to the system's reason.
  virtual bool WriteFile(const std::string& path, std::string_view data, WriteMode mode,
                         std::string& error) = 0;
  // Replaces the whole file without ever leaving it cut short: the data goes
  // to a temporary file in the same folder, which is then moved over `path`.
  // On failure the old file is left whole, no temporary file remains, and
  // `error` has the system's reason.
  virtual bool ReplaceFileSafely(const std::string& path, std::string_view data,
                                 std::string& error) = 0;
  // Opens `path` to write at its end, emptied first when `replace`; others
  // may read it meanwhile. Nothing, with `error` set, when it cannot.
  virtual std::unique_ptr<IOpenFile> OpenForAppend(const std::string& path, bool replace,
                                                   std::string& error) = 0;
  virtual bool RemoveFile(const std::string& path) = 0;
  // Renames `from` to `to`, replacing a file there; false when it cannot
  // (for example while another program has `from` open).
  virtual bool RenameFile(const std::string& from, const std::string& to) = 0;
  // The name (without folder) of the first directory entry matching the
  // wildcard `pattern` (folders included), or nothing.
  virtual std::optional<std::string> FirstMatch(const std::string& pattern) = 0;
  // The whole file, or nothing when it cannot be read to its end.
  virtual std::optional<std::string> ReadFile(const std::string& path) = 0;
  // An account other than this user, the system and the administrators that
  // may change what is in `folder` (add, replace or remove files, or change
  // who may), by name; empty when there is none, or when the system does
  // not say.
  virtual std::string OthersWhoMayChange(const std::string& folder) = 0;
};

}  // namespace umbrane
