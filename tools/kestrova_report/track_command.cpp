#include <iostream>
#include <memory>

#include "browser/track_run.hpp"
#include "commands.hpp"
#include "common/event_pump.hpp"

namespace kestrova::tools {

// track ACQ_FOLDER [--threshold T]: the travel distances of the animals of a w6 acquisition,
// written as the track view's table into the acquisition folder.
Runner setup_track(CLI::App& command) {
  struct Args {
    std::string folder;
    std::string threshold = "1.8";
  };
  auto args = std::make_shared<Args>();
  command.add_option("ACQ_FOLDER", args->folder, "acquisition folder")
      ->required()
      ->check(CLI::ExistingDirectory);
  command.add_option("--threshold", args->threshold,
                     "detection threshold; outside 1.1 to 6 it is 1.8 (default 1.8)");
  command.footer(
      "Replays the real-time files of a w6 acquisition of zebrafish or Drosophila, places each "
      "well's animal at the mean of the beams it interrupts, and writes the distance walked per "
      "well and block in millimetres to report.csv in the acquisition folder (report_1.csv, ... "
      "when report.csv cannot be replaced); its path is printed. The plate map is read from "
      "--data-dir when given, else the installed one is used. Nothing is written when the run "
      "is interrupted.");
  return [args](Context& context) {
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(args->folder, ec).lexically_normal();
    if (folder.filename().empty()) folder = folder.parent_path();
    browser::TrackOptions options;
    options.plate.data_folder = context.data_dir;
    options.threshold_text = args->threshold;
    common::NoShell shell;
    browser::TrackRun run(context.clock, shell);
    if (const std::string error = run.open(folder, options); !error.empty()) {
      context.dialogs.message(error);
      return 1;
    }
    common::NullEventPump pump;
    const auto file = run.finish(pump, [&] { return common::cancelled(context.cancel); });
    if (!file) {
      if (!run.problem().empty()) context.dialogs.message(run.problem());
      return 1;
    }
    std::cout << file->string() << '\n';
    if (!run.problem().empty()) {
      context.dialogs.message(run.problem());
      return 1;
    }
    return 0;
  };
}

} // namespace kestrova::tools
