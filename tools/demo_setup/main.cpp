// kestrova-demo-setup DATA_DIR [MINUTES]
//
// Prepares a data folder for a demonstration run against the virtual instrument: the data
// folder template, and project 1 "Demo" on a 96-well plate (w96f) whose twelve columns form four
// named groups of three columns, an acquisition length of MINUTES (default 3), the instrument on
// port 1, and report settings with "User Defined BIN size" ticked and a 2-minute bin, so that
// the acquisition writes its report by itself when it completes.

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>

#include "common/stderr_dialogs.hpp"
#include "reports/report_settings.hpp"
#include "store/config.hpp"
#include "store/data_template.hpp"
#include "store/plate_format.hpp"
#include "store/project_files.hpp"

namespace {

constexpr int kDemoProject = 1;
constexpr int kWellRows = 8; // a 96-well plate: wells are numbered down each column of 8
const char* const kGroupNames[] = {"Control", "Drug_1uM", "Drug_10uM", "Drug_100uM"};

} // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  using namespace kestrova;
  if (argc < 2 || argc > 3 || std::string(argv[1]) == "--help") {
    std::cerr << "usage: kestrova-demo-setup DATA_DIR [MINUTES]\n";
    return argc >= 2 ? 0 : 2;
  }
  const fs::path folder = argv[1];
  const int minutes = argc == 3 ? std::atoi(argv[2]) : 3;
  if (minutes < 1 || minutes > 10000) {
    std::cerr << "kestrova-demo-setup: MINUTES must be 1 to 10000\n";
    return 2;
  }
  std::error_code ec;
  fs::create_directories(folder, ec);
  if (ec) {
    std::cerr << "kestrova-demo-setup: cannot create " << folder.string() << ": " << ec.message()
              << '\n';
    return 1;
  }
  common::StderrDialogs dialogs("kestrova-demo-setup: ");
  store::WriteDataFolderTemplate(folder, dialogs);

  store::ProjectState project;
  project.app_folder = folder;
  project.config.Actual_Project_Number = kDemoProject;
  project.config.Last_Project = kDemoProject;
  project.config.Serial_COM = 1;
  project.project_folder = store::project_folder_path(folder, kDemoProject);
  project.setup.Name = "Demo";
  project.setup.Plate_format = std::string(store::kPlateW96f);
  project.setup.Aq_lapse = minutes;
  project.setup.tool_settings[0] = {0, 0, 0, 18, 0, 0}; // C. elegans, SNR 1.8, no calibration
  std::string format = project.setup.Plate_format;
  if (!store::LoadPlateFormat(folder, format, project.plate, dialogs)) return 1;

  store::GroupTable& groups = project.groups.main();
  for (int g = 0; g < 4; ++g)
    groups.names[static_cast<std::size_t>(g)] = kGroupNames[g];
  for (int c = 0; c < store::kChannelCount; ++c) {
    const int well = project.plate.map.WellOfChannel(c).well;
    groups.channel_group[static_cast<std::size_t>(c)] =
        well < 0 ? store::kFreeGroup : (well / kWellRows) / 3;
  }

  fs::create_directories(project.project_folder, ec);
  if (ec || !store::SaveProject(project, project.project_folder, kDemoProject, 0, dialogs) ||
      !store::SaveConfig(project, dialogs))
    return 1;

  reports::ReportSettings settings = reports::default_report_settings(",");
  settings.Bin = 2;
  if (!reports::save_report_settings(folder, settings, /*user_defined=*/1, dialogs)) return 1;
  std::cout << project.project_folder.string() << '\n';
  return 0;
}
