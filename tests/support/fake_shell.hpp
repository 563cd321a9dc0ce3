#pragma once

#include <string>
#include <vector>

#include "common/shell.hpp"

namespace kestrova::testing {

// Records what the program asked the desktop to do, as "open PATH", "reveal PATH",
// "relaunch ARG ARG", "url ADDRESS".
class FakeShell final : public common::Shell {
public:
  bool open(const std::filesystem::path& target) override;
  bool reveal(const std::filesystem::path& file) override;
  bool relaunch(const std::vector<std::string>& arguments) override;
  bool open_url(std::string_view url) override;

  std::vector<std::string> calls;
  bool result = true;
};

} // namespace kestrova::testing
