#pragma once

#include <filesystem>

#include "common/shell.hpp"

namespace kestrova::ui {

// The desktop through Qt: the desktop's default programs and a detached relaunch of this
// executable. No shell command strings are built.
class QtShell final : public common::Shell {
public:
  // `data_dir` is passed again as --data-dir when the program relaunches itself.
  explicit QtShell(std::filesystem::path data_dir) : data_dir_(std::move(data_dir)) {}

  bool open(const std::filesystem::path& target) override;
  bool reveal(const std::filesystem::path& file) override;
  bool relaunch(const std::vector<std::string>& arguments) override;
  bool open_url(std::string_view url) override;

private:
  std::filesystem::path data_dir_;
};

} // namespace kestrova::ui
