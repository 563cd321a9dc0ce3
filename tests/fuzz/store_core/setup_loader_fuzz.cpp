// Loads arbitrary bytes as a project's setup.dat (and, after a 0xFF byte, as its setup.bak),
// then summarises and renames the project. Every damaged file must end in a recovery or the
// defaults, never a crash.
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

#include "common/stderr_dialogs.hpp"
#include "fuzz/fuzz_support.hpp"
#include "store/config.hpp"
#include "store/setup_file.hpp"

namespace kestrova::fuzz {
namespace {

namespace fs = std::filesystem;

// Project 4's folder inside the scratch folder.
const fs::path& project_folder() {
  static const fs::path folder = [] {
    const fs::path p = scratch_folder() / "p00004";
    fs::create_directory(p);
    return p;
  }();
  return folder;
}

} // namespace
} // namespace kestrova::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrova;
  const std::filesystem::path& project = fuzz::project_folder();
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const auto split = input.find('\xFF');
  std::error_code ec;
  std::filesystem::remove(project / "setup.bak", ec);
  fuzz::write_bytes(project / "setup.dat", input.substr(0, split));
  if (split != std::string_view::npos)
    fuzz::write_bytes(project / "setup.bak", input.substr(split + 1));
  store::ProjectState state;
  state.app_folder = fuzz::scratch_folder();
  state.config.Actual_Project_Number = 4;
  state.project_folder = project;
  common::StderrDialogs dialogs({}, /*quiet=*/true);
  (void)store::LoadSetup(state, 4, dialogs);
  (void)store::ProjectSummary(project, dialogs);
  (void)store::SetSetupName(project, "Renamed", dialogs);
  return 0;
}
