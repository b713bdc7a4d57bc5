#include "FakeFileSystem.h"

#include "base/Text.h"

namespace umbrane::fakes {

std::string FakeFileSystem::Key(const std::string& path) {
  std::string key = LowerCase(path);
  while (key.size() > 1 && key.back() == '\\') {
    key.pop_back();
  }
  return key;
}

bool FakeFileSystem::ParentExists(const std::string& key) const {
  const auto pos = key.find_last_of('\\');
  if (pos == std::string::npos) {
    return true;  // relative to the current folder, which exists
  }
  const std::string parent = key.substr(0, pos);
  return parent.empty() || folders_.count(parent) > 0 ||
         (parent.size() == 2 && parent[1] == ':');  // a drive root
}

void FakeFileSystem::AddFolder(const std::string& path) {
  std::string key = Key(path);
  while (!key.empty() && !(key.size() == 2 && key[1] == ':')) {
    folders_.insert(key);
    const auto pos = key.find_last_of('\\');
    if (pos == std::string::npos) {
      break;
    }
    key.resize(pos);
  }
}

void FakeFileSystem::AddFile(const std::string& path, const std::string& content) {
  AddFolder(ExtractFilePath(path));
  files_[Key(path)] = content;
}

std::optional<std::string> FakeFileSystem::Content(const std::string& path) const {
  const auto it = files_.find(Key(path));
  if (it == files_.end()) {
    return std::nullopt;
  }
  return it->second;
}

bool FakeFileSystem::FileExists(const std::string& path) {
  return files_.count(Key(path)) > 0;
}

bool FakeFileSystem::FolderExists(const std::string& path) {
  return folders_.count(Key(path)) > 0;
}

bool FakeFileSystem::CreateFolder(const std::string& path) {
  if (log_ != nullptr) {
    log_->Add("CreateFolder " + path);
  }
  const std::string key = Key(path);
  if (folders_.count(key) > 0 || files_.count(key) > 0 || !ParentExists(key) ||
      failingFolders.count(path) > 0) {
    return false;
  }
  folders_.insert(key);
  return true;
}

bool FakeFileSystem::WriteFile(const std::string& path, std::string_view data, WriteMode mode,
                               std::string& error) {
  ++writeCount;
  if (log_ != nullptr) {
    log_->Add(std::string(mode == WriteMode::Replace ? "WriteFile " : "AppendFile ") + path);
  }
  const std::string key = Key(path);
  if (failingWrites.count(path) > 0) {
    error = "The process cannot access the file because it is being used by another process.";
    return false;
  }
  if (!ParentExists(key)) {
    error = "The system cannot find the path specified.";
    return false;
  }
  std::string& content = files_[key];
  if (mode == WriteMode::Replace) {
    content.assign(data);
  } else {
    content.append(data);
  }
  return true;
}

bool FakeFileSystem::ReplaceFileSafely(const std::string& path, std::string_view data,
                                       std::string& error) {
  if (log_ != nullptr) {
    log_->Add("ReplaceFileSafely " + path);
  }
  // Like the real one: a failure leaves the old content whole.
  const std::string key = Key(path);
  if (failingWrites.count(path) > 0 || !ParentExists(key)) {
    error = "Access is denied.";
    return false;
  }
  ++writeCount;
  files_[key].assign(data);
  return true;
}

// Writes through to the file system's map, so the content is visible at
// once, as with a real file that others read.
class FakeFileSystem::OpenFile final : public IOpenFile {
 public:
  OpenFile(FakeFileSystem& owner, std::string path) : owner_(owner), path_(std::move(path)) {}

  std::size_t Append(std::string_view data, std::string& error) override {
    ++owner_.writeCount;
    if (owner_.log_ != nullptr) {
      owner_.log_->Add("AppendFile " + path_);
    }
    if (owner_.failingWrites.count(path_) > 0) {
      error = "The process cannot access the file because it is being used by another process.";
      return 0;
    }
    std::size_t room = data.size();
    if (const auto cut = owner_.shortAppends.find(path_); cut != owner_.shortAppends.end()) {
      room = std::min(room, cut->second);
      error = "There is not enough space on the disk.";
    }
    owner_.files_[Key(path_)].append(data.substr(0, room));
    if (owner_.appendLog != nullptr) {
      for (std::size_t at = 0, end;
           (end = data.find("\r\n", at)) != std::string_view::npos && end < room; at = end + 2) {
        const std::string_view line = data.substr(at, end - at);
        const auto cut = line.find("] ");
        owner_.appendLog->Add(
            "Report " + std::string(cut == std::string_view::npos ? line : line.substr(cut + 2)));
      }
    }
    return room;
  }

 private:
  FakeFileSystem& owner_;
  std::string path_;
};

std::unique_ptr<IOpenFile> FakeFileSystem::OpenForAppend(const std::string& path, bool replace,
                                                         std::string& error) {
  if (log_ != nullptr) {
    log_->Add(std::string(replace ? "OpenReplace " : "OpenAppend ") + path);
  }
  const std::string key = Key(path);
  if (failingWrites.count(path) > 0 || folders_.count(key) > 0) {
    error = "Access is denied.";
    return nullptr;
  }
  if (!ParentExists(key)) {
    error = "The system cannot find the path specified.";
    return nullptr;
  }
  ++opens;
  std::string& content = files_[key];
  if (replace) {
    content.clear();
  }
  return std::make_unique<OpenFile>(*this, path);
}

bool FakeFileSystem::RemoveFile(const std::string& path) {
  if (log_ != nullptr) {
    log_->Add("RemoveFile " + path);
  }
  return files_.erase(Key(path)) > 0;
}

bool FakeFileSystem::RenameFile(const std::string& from, const std::string& to) {
  const auto found = files_.find(Key(from));
  if (found == files_.end() || failingWrites.count(from) > 0 || failingWrites.count(to) > 0 ||
      failingRenames.count(from) > 0) {
    return false;
  }
  files_[Key(to)] = found->second;
  files_.erase(Key(from));
  return true;
}

namespace {

// "*" and "?" wildcards, without regard to case (keys are lower case).
bool Matches(const std::string& name, const std::string& pattern) {
  if (pattern.empty()) {
    return name.empty();
  }
  if (pattern[0] == '*') {
    for (std::size_t skip = 0; skip <= name.size(); ++skip) {
      if (Matches(name.substr(skip), pattern.substr(1))) {
        return true;
      }
    }
    return false;
  }
  return !name.empty() && (pattern[0] == '?' || pattern[0] == name[0]) &&
         Matches(name.substr(1), pattern.substr(1));
}

}  // namespace

std::optional<std::string> FakeFileSystem::FirstMatch(const std::string& pattern) {
  const std::string key = Key(pattern);
  const auto slash = key.find_last_of('\\');
  const std::string folder = slash == std::string::npos ? "" : key.substr(0, slash);
  const std::string glob = key.substr(slash == std::string::npos ? 0 : slash + 1);
  std::set<std::string> entries;
  for (const auto& [path, content] : files_) {
    entries.insert(path);
  }
  entries.insert(folders_.begin(), folders_.end());
  for (const std::string& entry : entries) {
    const auto cut = entry.find_last_of('\\');
    if (cut != std::string::npos && entry.substr(0, cut) == folder &&
        Matches(entry.substr(cut + 1), glob)) {
      return entry.substr(cut + 1);
    }
  }
  return std::nullopt;
}

std::optional<std::string> FakeFileSystem::ReadFile(const std::string& path) {
  if (failingReads.count(path) > 0) {
    return std::nullopt;
  }
  return Content(path);
}

}  // namespace umbrane::fakes
