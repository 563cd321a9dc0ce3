#pragma once
// Pieces every timing program uses: a clock that always reads one moment, wall-clock timing,
// and reading or evicting an acquisition's real-time files.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "acquisition/activity_files.hpp"
#include "common/clock.hpp"

namespace kestrova::bench {

// A clock fixed at 2026-01-15 10:30:00 that never sleeps.
class FixedClock final : public common::Clock {
public:
  static constexpr common::CivilTime kTime{2026, 1, 15, 10, 30, 0, 0};
  common::LocalTime now() override { return common::from_civil(kTime); }
  common::SteadyTime steady() override { return {}; }
  void sleep_ms(int) override {}
};

inline double seconds_of(const std::function<void()>& work) {
  const auto start = std::chrono::steady_clock::now();
  work();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The best of `runs` timings.
inline double best_of(int runs, const std::function<void()>& work) {
  double best = 1e30;
  for (int i = 0; i < runs; ++i)
    best = std::min(best, seconds_of(work));
  return best;
}

// The program's arguments that are not options (options such as --benchmark_... meant for other
// timing programs are ignored).
inline std::vector<std::string> plain_arguments(int argc, char** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    if (argv[i][0] != '-') args.emplace_back(argv[i]);
  return args;
}

// A new folder PREFIX-XXXXXX under `base` (the system's temporary folder when empty); nullopt,
// with the reason on stderr, when it cannot be made.
inline std::optional<std::filesystem::path> make_scratch_folder(const std::string& base,
                                                                const std::string& prefix) {
  const std::filesystem::path under =
      base.empty() ? std::filesystem::temp_directory_path() : std::filesystem::path(base);
  std::string pattern = (under / (prefix + "-XXXXXX")).string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::perror("mkdtemp");
    return std::nullopt;
  }
  return std::filesystem::path(pattern);
}

// Reads every real-time file of `folder` once, as `cat > /dev/null` would; the bytes read.
inline std::size_t read_realtime_once(const std::filesystem::path& folder) {
  std::vector<char> buffer(1 << 20);
  std::size_t total = 0;
  for (int k = 0;; ++k) {
    const int fd = ::open((folder / acquisition::realtime_file_name(k)).c_str(), O_RDONLY);
    if (fd < 0) break;
    for (ssize_t got; (got = ::read(fd, buffer.data(), buffer.size())) > 0;)
      total += static_cast<std::size_t>(got);
    ::close(fd);
  }
  return total;
}

// Drops the real-time files of `folder` from the page cache, so that the next pass reads them
// from disk.
inline void evict_realtime(const std::filesystem::path& folder) {
  for (int k = 0;; ++k) {
    const int fd = ::open((folder / acquisition::realtime_file_name(k)).c_str(), O_RDONLY);
    if (fd < 0) break;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    ::close(fd);
  }
}

} // namespace kestrova::bench
