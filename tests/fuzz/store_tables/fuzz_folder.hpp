#pragma once

// Shared pieces of the store-table fuzzers: one scratch folder per process and a Dialogs that
// only counts the boxes shown.

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <unistd.h>

#include "common/dialogs.hpp"

namespace kestrova::fuzz {

inline const std::filesystem::path& scratch_folder() {
  static const std::filesystem::path folder = [] {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "kestrova-fuzz-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) std::abort();
    return std::filesystem::path(pattern);
  }();
  return folder;
}

inline void write_bytes(const std::filesystem::path& file, const uint8_t* data, size_t size) {
  std::ofstream out(file, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
}

class CountingDialogs final : public common::Dialogs {
public:
  common::Answer message(std::string_view, common::Buttons, common::Icon,
                         std::string_view) override {
    ++shown;
    return common::Answer::Ok;
  }
  std::optional<std::string> input(std::string_view, std::string_view, std::string_view) override {
    ++shown;
    return std::nullopt;
  }
  int shown = 0;
};

} // namespace kestrova::fuzz
