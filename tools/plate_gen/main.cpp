// kestrova-plate-gen OUTPUT_FOLDER
//
// Writes config.dat of a fresh installation and the plate format files (w384, w96u, w96f,
// w96flat, w24, w48, w6) into OUTPUT_FOLDER. The repository's data/ folder holds its output:
//   kestrova-plate-gen data
// The placement of each plate over the beam grid, the well diameters and the rule that picks
// the beams of a well are documented in src/store/plate_layout.cpp.

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>

#include "common/dialogs.hpp"
#include "store/data_template.hpp"

namespace {

// Messages go to standard error; there is nobody to answer questions.
class ConsoleDialogs final : public kestrova::common::Dialogs {
public:
  kestrova::common::Answer message(std::string_view text, kestrova::common::Buttons,
                                   kestrova::common::Icon, std::string_view) override {
    std::cerr << text << '\n';
    failed_ = true;
    return kestrova::common::Answer::Ok;
  }
  std::optional<std::string> input(std::string_view, std::string_view, std::string_view) override {
    return std::nullopt;
  }
  bool failed() const { return failed_; }

private:
  bool failed_ = false;
};

} // namespace

int main(int argc, char** argv) {
  if (argc != 2 || std::string(argv[1]) == "--help") {
    std::cerr << "usage: kestrova-plate-gen OUTPUT_FOLDER\n";
    return argc == 2 ? 0 : 2;
  }
  const std::filesystem::path folder = argv[1];
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    std::cerr << "cannot create " << folder.string() << ": " << ec.message() << '\n';
    return 1;
  }
  ConsoleDialogs dialogs;
  for (const std::string& name : kestrova::store::WriteDataFolderTemplate(folder, dialogs)) {
    std::cout << (folder / name).string() << '\n';
  }
  return dialogs.failed() ? 1 : 0;
}
