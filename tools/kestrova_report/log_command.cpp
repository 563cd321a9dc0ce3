// log: the event log an acquisition kept in its folder.
#include <iostream>
#include <memory>

#include "browser/acquisition_log_view.hpp"
#include "commands.hpp"

namespace kestrova::tools {

// log ACQ_FOLDER: prints acquisition.log as it stands (an acquisition still recording goes on
// appending to it).
Runner setup_log(CLI::App& command) {
  auto folder = std::make_shared<std::string>();
  command.add_option("ACQ_FOLDER", *folder, "acquisition folder (pNNNNN/yyyymmdd_hhmm...)")
      ->required()
      ->check(CLI::ExistingDirectory);
  command.footer("Prints the acquisition's acquisition.log: one event a line, each beginning with "
                 "its local date and time (start and settings, calibration, pauses, link and "
                 "disk problems with what was lost, relaunch, the end and why). Exit status 1 "
                 "when the folder has no log (acquisitions recorded before logs were kept).");
  return [folder](Context&) {
    const browser::AcquisitionLogView view = browser::acquisition_log_view(*folder);
    if (!view.text) {
      std::cerr << "kestrova-report: " << view.missing << '\n';
      return 1;
    }
    std::cout << *view.text;
    if (!view.text->empty() && view.text->back() != '\n') std::cout << '\n';
    std::cout << std::flush;
    return std::cout ? 0 : 1;
  };
}

} // namespace kestrova::tools
