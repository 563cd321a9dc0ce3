#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::common {

// The desktop: other programs, folders and this program's own relaunch.
// Every call returns false when the desktop could not do it.
class Shell {
public:
  virtual ~Shell() = default;
  // Opens a file with its associated program, or a folder in the file manager.
  virtual bool open(const std::filesystem::path& target) = 0;
  // Shows the folder that holds `file`, with the file selected where the desktop can.
  virtual bool reveal(const std::filesystem::path& file) = 0;
  // Starts this executable again, detached, with the same data folder plus `arguments`.
  virtual bool relaunch(const std::vector<std::string>& arguments) = 0;
  virtual bool open_url(std::string_view url) = 0;
};

// A desktop that opens and starts nothing: command-line tools and benchmarks, which print
// paths instead and never relaunch.
class NoShell final : public Shell {
public:
  bool open(const std::filesystem::path&) override { return false; }
  bool reveal(const std::filesystem::path&) override { return false; }
  bool relaunch(const std::vector<std::string>&) override { return false; }
  bool open_url(std::string_view) override { return false; }
};

} // namespace kestrova::common
