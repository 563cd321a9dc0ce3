#pragma once

#include <filesystem>
#include <string>

namespace kestrova::testing {

// A fresh folder under the system's temporary folder, removed with its contents on scope exit.
class TempDir {
public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
  std::filesystem::path path_;
};

// Whole-file helpers for fixtures.
std::string read_file(const std::filesystem::path& file);
void write_file(const std::filesystem::path& file, std::string_view bytes);

} // namespace kestrova::testing
