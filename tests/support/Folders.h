// A scratch folder under the temporary folder for one Wine test, removed
// (one level deep) afterwards.
#pragma once

#include <windows.h>

#include <string>

namespace umbrane::testing {

class ScratchFolder {
 public:
  explicit ScratchFolder(const std::string& name) {
    char temp[MAX_PATH] = {};
    (void)GetTempPathA(MAX_PATH, temp);
    path_ = std::string(temp) + name + "-" + std::to_string(GetCurrentProcessId()) + "-" +
            std::to_string(GetTickCount64());
    (void)CreateDirectoryA(path_.c_str(), nullptr);
    path_ += "\\";
  }
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;
  ~ScratchFolder() { RemoveTree(path_); }

  const std::string& Path() const { return path_; }

  // Writes `content` to the file `name` in the folder.
  bool Write(const std::string& name, const std::string& content) const {
    HANDLE file = CreateFileA((path_ + name).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      return false;
    }
    DWORD written = 0;
    const BOOL ok =
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
    return ok && written == content.size();
  }

 private:
  static void RemoveTree(const std::string& folder) {
    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
      do {
        const std::string name = data.cFileName;
        if (name == "." || name == "..") {
          continue;
        }
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
          RemoveTree(folder + name + "\\");
        } else {
          (void)DeleteFileA((folder + name).c_str());
        }
      } while (FindNextFileA(find, &data));
      FindClose(find);
    }
    (void)RemoveDirectoryA(folder.c_str());
  }

  std::string path_;
};

}  // namespace umbrane::testing
