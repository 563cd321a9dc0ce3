#include <iostream>
#include <memory>

#include "browser/joint_report.hpp"
#include "commands.hpp"
#include "reports/report_settings.hpp"

namespace kestrova::tools {

// joint PROJECT_FOLDER TAG: the joint report of the acquisitions tagged TAG, written into the
// project folder as the browser's "Export Data" writes it.
Runner setup_joint(CLI::App& command) {
  struct Args {
    std::string project;
    std::string tag;
    std::optional<std::string> separator;
  };
  auto args = std::make_shared<Args>();
  command.add_option("PROJECT_FOLDER", args->project, "project folder (p00001)")
      ->required()
      ->check(CLI::ExistingDirectory);
  command.add_option("TAG", args->tag, "kinetic group tag as tags_id.dat holds it, e.g. [K1]")
      ->required();
  command.add_option("--separator", args->separator,
                     "field separator (default: the stored report settings' of --data-dir, "
                     "else \";\")");
  return [args](Context& context) {
    std::string separator = ";";
    if (args->separator) {
      separator = *args->separator;
    } else if (context.data_dir) {
      const reports::ReportSettingsRead stored = reports::read_report_settings_file(
          *context.data_dir / reports::kReportSettingsFile, reports::current_list_separator());
      if (stored.complete()) separator = stored.settings.spacer;
    }
    if (const auto problem = reports::separator_problem(separator)) {
      std::cerr << "kestrova-report: " << *problem << '\n';
      return 2;
    }
    const auto path = browser::joint_report_of_tag(args->project, args->tag, separator,
                                                   context.clock, context.dialogs, context.cancel);
    if (!path) return 1;
    std::cout << path->string() << '\n';
    return 0;
  };
}

} // namespace kestrova::tools
