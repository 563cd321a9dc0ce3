#include <iostream>
#include <memory>

#include "commands.hpp"
#include "reports/well_export.hpp"

namespace kestrova::tools {

// wells ACQ_FOLDER [--bin MIN] [--timestamps | --channels]: the binned activity as small text
// files in the acquisition folder.
Runner setup_wells(CLI::App& command) {
  struct Args {
    std::string folder;
    std::optional<int> bin;
    bool timestamps = false;
    bool channels = false;
  };
  auto args = std::make_shared<Args>();
  command.add_option("ACQ_FOLDER", args->folder, "acquisition folder")
      ->required()
      ->check(CLI::ExistingDirectory);
  command.add_option("--bin", args->bin, "bin in minutes (default: repoconf.dat's, else 30)")
      ->check(CLI::Range(1, 32767));
  auto* stamps = command.add_flag(
      "--timestamps", args->timestamps,
      "one file per well (000_A1.txt, ...) with a \"dd/mm/yyyy hh:mm\" stamp per bin, counted "
      "from the acquisition's start (its folder name yyyymmdd_hhmm; the present time for any "
      "other name)");
  command
      .add_flag("--channels", args->channels,
                "one file per channel (ch000000.txt ... ch000383.txt) and time.txt (the default)")
      ->excludes(stamps);
  command.footer("Values and stamps use the same bin: the one asked for, at least 2, shortened to "
                 "the recording's length for short recordings.");
  return [args](Context& context) {
    if (!context.data_dir) {
      std::cerr << "kestrova-report: wells needs --data-dir (the folder of the plate files)\n";
      return 2;
    }
    const reports::GenerateRequest stored = stored_report_request(*context.data_dir, args->folder);
    reports::WellExportRequest request;
    request.acquisition_folder = stored.acquisition_folder;
    request.data_folder = stored.data_folder;
    request.bin = args->bin ? *args->bin : stored.settings.Bin;
    request.time_stamps = args->timestamps;
    request.now = common::to_civil(context.clock.now());
    request.cancel = context.cancel;
    const reports::WellExportResult result = reports::export_well_series(request, context.dialogs);
    if (!result.ok) return 1;
    std::cout << result.files.size() << " files of " << result.bins << " bins of " << result.bin
              << " min in " << request.acquisition_folder.string() << '\n';
    return 0;
  };
}

} // namespace kestrova::tools
