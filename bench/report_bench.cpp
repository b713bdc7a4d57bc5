// Microseconds per activity-log entry at 1,000 and at 100,000 entries, with
// the log written to a real file: the log held open for the run (one write
// an entry) against the earlier way that opened and closed the file for
// every entry.
//
// Under Wine: bash bench/report_wine.sh
// Natively:   cmake --preset bench && cmake --build --preset bench &&
//             build/bench/bench/umbrane_bench_report [folder]
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "app/ActivityLog.h"

#ifdef _WIN32
#include "win32/Win32FileSystem.h"
#endif

namespace {

using umbrane::IFileSystem;
using umbrane::IOpenFile;
using umbrane::WriteMode;

#ifdef _WIN32
using Files = umbrane::win32::Win32FileSystem;
#else
// The host's files, for the benchmark only: the program itself reaches the
// disk through the Win32 adapter.
class Files : public IFileSystem {
 public:
  bool FileExists(const std::string& p) override { return std::filesystem::is_regular_file(p); }
  bool FolderExists(const std::string& p) override { return std::filesystem::is_directory(p); }
  std::string OthersWhoMayChange(const std::string&) override { return {}; }
  bool CreateFolder(const std::string& p) override { return std::filesystem::create_directory(p); }
  bool WriteFile(const std::string& path, std::string_view data, WriteMode mode,
                 std::string& error) override {
    std::FILE* f = std::fopen(path.c_str(), mode == WriteMode::Append ? "ab" : "wb");
    const bool ok = f != nullptr && std::fwrite(data.data(), 1, data.size(), f) == data.size();
    if (f != nullptr) {
      std::fclose(f);
    }
    if (!ok) {
      error = "write failed";
    }
    return ok;
  }
  bool ReplaceFileSafely(const std::string& path, std::string_view data,
                         std::string& error) override {
    return WriteFile(path, data, WriteMode::Replace, error);
  }
  std::unique_ptr<IOpenFile> OpenForAppend(const std::string& path, bool replace,
                                           std::string&) override {
    struct Open : IOpenFile {
      std::FILE* f;
      explicit Open(std::FILE* file) : f(file) {}
      ~Open() override { std::fclose(f); }
      std::size_t Append(std::string_view data, std::string&) override {
        const std::size_t n = std::fwrite(data.data(), 1, data.size(), f);
        std::fflush(f);  // one write an entry, as the program's file does
        return n;
      }
    };
    std::FILE* f = std::fopen(path.c_str(), replace ? "wb" : "ab");
    return f != nullptr ? std::make_unique<Open>(f) : nullptr;
  }
  bool RemoveFile(const std::string& p) override { return std::filesystem::remove(p); }
  bool RenameFile(const std::string& from, const std::string& to) override {
    std::error_code error;
    std::filesystem::rename(from, to, error);
    return !error;
  }
  std::optional<std::string> FirstMatch(const std::string&) override { return std::nullopt; }
  std::optional<std::string> ReadFile(const std::string&) override { return std::nullopt; }
};
#endif

const std::string kEntry = "[ 09:05:03:042 2008/03/10 ] 160036";

// Microseconds per entry for `window` entries added to a log that already
// holds `total - window` of them (written before the clock starts).
template <typename Sync>
double Measure(std::size_t total, std::size_t window, Sync sync) {
  umbrane::LineList lines;
  for (std::size_t i = 0; i + window < total; ++i) {
    lines.Add(kEntry);
  }
  sync(lines);
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  for (std::size_t i = 0; i < window; ++i) {
    lines.Add(kEntry);
    sync(lines);
  }
  const auto elapsed = std::chrono::duration<double, std::micro>(Clock::now() - start);
  return elapsed.count() / static_cast<double>(window);
}

}  // namespace

int main(int argc, char** argv) {
  const std::filesystem::path folder =
      argc > 1 ? std::filesystem::path(argv[1]) : std::filesystem::temp_directory_path();
  const std::string path = (folder / "umbrane-bench-log.txt").string();
  Files files;

  std::printf("entries  window  held open (us/entry)  open per entry (us/entry)\n");
  for (const std::size_t total : {std::size_t{1000}, std::size_t{100000}}) {
    const std::size_t window = 1000;
    umbrane::LogFile log(files, path);
    const double held = Measure(total, window, [&](umbrane::LineList& l) { log.Sync(l); });
    // The earlier way: each entry opened the file, appended and closed it.
    std::size_t written = 0;
    const double reopened = Measure(total, window, [&](umbrane::LineList& l) {
      std::string error;
      (void)files.WriteFile(path, l.TextFrom(written), WriteMode::Append, error);
      written = l.Count();
    });
    std::printf("%7zu  %6zu  %20.2f  %25.2f\n", total, window, held, reopened);
  }
  std::filesystem::remove(path);
  return 0;
}
