// Loads arbitrary bytes as a project's setup.dat (and, after a 0xFF byte, as its setup.bak),
// then summarises and renames the project. Every damaged file must end in a recovery or the
// defaults, never a crash.
#include <stdlib.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "common/dialogs.hpp"
#include "store/config.hpp"
#include "store/setup_file.hpp"

namespace {

namespace fs = std::filesystem;

// Answers every box with its first button and keeps nothing.
class SilentDialogs final : public kestrova::common::Dialogs {
public:
  kestrova::common::Answer message(std::string_view, kestrova::common::Buttons,
                                   kestrova::common::Icon, std::string_view) override {
    return kestrova::common::Answer::Ok;
  }
  std::optional<std::string> input(std::string_view, std::string_view,
                                   std::string_view default_text) override {
    return std::string(default_text);
  }
};

struct Fixture {
  fs::path root;
  fs::path project;
  Fixture() {
    std::string tmpl = (fs::temp_directory_path() / "kestrova-fuzz-XXXXXX").string();
    root = ::mkdtemp(tmpl.data());
    project = root / "p00004";
    fs::create_directory(project);
  }
  ~Fixture() {
    std::error_code ec;
    fs::remove_all(root, ec);
  }
};

void write(const fs::path& file, const std::string& bytes) {
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static Fixture fixture;
  const std::string input(reinterpret_cast<const char*>(data), size);
  const auto split = input.find('\xFF');
  std::error_code ec;
  fs::remove(fixture.project / "setup.bak", ec);
  write(fixture.project / "setup.dat", input.substr(0, split));
  if (split != std::string::npos) write(fixture.project / "setup.bak", input.substr(split + 1));
  kestrova::store::ProjectState state;
  state.app_folder = fixture.root;
  state.config.Actual_Project_Number = 4;
  state.project_folder = fixture.project;
  SilentDialogs dialogs;
  (void)kestrova::store::LoadSetup(state, 4, dialogs);
  (void)kestrova::store::ProjectSummary(fixture.project, dialogs);
  (void)kestrova::store::SetSetupName(fixture.project, "Renamed", dialogs);
  return 0;
}
