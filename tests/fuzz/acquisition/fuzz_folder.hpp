#pragma once

// A scratch folder for one fuzzing process, removed at exit.

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace kestrova::fuzzing {

inline const std::filesystem::path& scratch_folder() {
  static const std::filesystem::path folder = [] {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kestrova-fuzz-XXXXXX").string();
    if (::mkdtemp(tmpl.data()) == nullptr) std::abort();
    static std::filesystem::path keep = tmpl;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(keep, ec);
    });
    return keep;
  }();
  return folder;
}

inline void put_file(const std::filesystem::path& file, std::string_view bytes) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

} // namespace kestrova::fuzzing
