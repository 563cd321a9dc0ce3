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

#include "common/stderr_dialogs.hpp"
#include "store/data_template.hpp"

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
  kestrova::common::StderrDialogs dialogs;
  for (const std::string& name : kestrova::store::WriteDataFolderTemplate(folder, dialogs)) {
    std::cout << (folder / name).string() << '\n';
  }
  return dialogs.shown() > 0 ? 1 : 0;
}
