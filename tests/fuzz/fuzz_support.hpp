#pragma once

// Shared pieces of the fuzz targets: one scratch folder per fuzzing process, removed when the
// process ends normally, file writing, checks, and a Dialogs that only counts the boxes shown.

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

namespace kestrova::fuzz {

// A fresh folder under $TMPDIR, made on first use and removed with its contents at exit.
inline const std::filesystem::path& scratch_folder() {
  static const std::filesystem::path folder = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kestrova-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return std::filesystem::path(pattern);
  }();
  // Registered after `folder` is made, so the removal runs before `folder` is destroyed.
  static const bool removed_at_exit = [] {
    return std::atexit([] {
             std::error_code ec;
             std::filesystem::remove_all(folder, ec);
           }) == 0;
  }();
  (void)removed_at_exit;
  return folder;
}

// A property every input must keep: a failure stops the fuzzer with this input saved.
inline void check(bool ok) {
  if (!ok) __builtin_trap();
}

// Replaces `file` with `bytes`.
inline void write_bytes(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
inline void write_bytes(const std::filesystem::path& file, const std::uint8_t* data,
                        std::size_t size) {
  write_bytes(file, std::string_view(reinterpret_cast<const char*>(data), size));
}

} // namespace kestrova::fuzz
