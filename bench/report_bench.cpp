// Microseconds per activity-log entry at 1,000 and at 100,000 entries, with
// the log written to a real file on this machine. For comparison it also
// times the earlier scheme that rewrote the whole file for every entry.
//
// Run: cmake --preset bench && cmake --build --preset bench &&
//      build/bench/bench/umbrane_bench_report [folder]
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "app/ActivityLog.h"

namespace {

using umbrane::IFileSystem;
using umbrane::WriteMode;

// The host's files, for the benchmark only: the program itself reaches the
// disk through the Win32 adapter.
class HostFiles : public IFileSystem {
 public:
  bool FileExists(const std::string& p) override { return std::filesystem::is_regular_file(p); }
  bool FolderExists(const std::string& p) override { return std::filesystem::is_directory(p); }
  bool CreateFolder(const std::string& p) override { return std::filesystem::create_directory(p); }
  bool WriteFile(const std::string& path, std::string_view data, WriteMode mode,
                 std::string& error) override {
    std::ofstream out(
        path, std::ios::binary | (mode == WriteMode::Append ? std::ios::app : std::ios::trunc));
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out) {
      error = "write failed";
      return false;
    }
    return true;
  }
  bool ReplaceFileSafely(const std::string& path, std::string_view data,
                         std::string& error) override {
    return WriteFile(path, data, WriteMode::Replace, error);
  }
  bool RemoveFile(const std::string& p) override { return std::filesystem::remove(p); }
  std::optional<std::string> FirstMatch(const std::string&) override { return std::nullopt; }
  std::optional<std::string> ReadFile(const std::string&) override { return std::nullopt; }
};

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
  HostFiles files;

  std::printf("entries  window  append (us/entry)  rewrite-all (us/entry)\n");
  for (const std::size_t total : {std::size_t{1000}, std::size_t{100000}}) {
    // Few timed entries at 100,000: each rewrite-all entry writes 3.6 MB.
    const std::size_t window = total > 1000 ? 100 : 1000;
    umbrane::LogFile log(files, path);
    const double append = Measure(total, window, [&](const umbrane::LineList& l) { log.Sync(l); });
    const double rewrite = Measure(total, window, [&](const umbrane::LineList& l) {
      std::string error;
      files.WriteFile(path, l.Text(), WriteMode::Replace, error);
    });
    std::printf("%7zu  %6zu  %17.2f  %22.2f\n", total, window, append, rewrite);
  }
  std::filesystem::remove(path);
  return 0;
}
