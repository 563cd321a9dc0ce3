#include <iostream>
#include <memory>

#include "commands.hpp"
#include "common/event_pump.hpp"
#include "reports/automatic_report.hpp"
#include "reports/generate_report.hpp"
#include "reports/report_settings.hpp"
#include "store/record_file.hpp"

namespace kestrova::tools {

reports::GenerateRequest stored_report_request(const std::filesystem::path& data_folder,
                                               const std::filesystem::path& folder) {
  // Defaults from repoconf.dat of the data folder when it is complete, else the defaults.
  const reports::ReportSettingsRead stored = reports::read_report_settings_file(
      data_folder / reports::kReportSettingsFile, reports::current_list_separator());
  reports::GenerateRequest request;
  request.acquisition_folder = std::filesystem::absolute(folder).lexically_normal();
  if (request.acquisition_folder.filename().empty())
    request.acquisition_folder = request.acquisition_folder.parent_path();
  request.data_folder = data_folder;
  request.settings = stored.complete()
                         ? stored.settings
                         : reports::default_report_settings(reports::current_list_separator());
  request.file_type = static_cast<reports::ReportFileType>(request.settings.filetype);
  request.layout = static_cast<reports::ReportLayout>(request.settings.out_format);
  return request;
}

// generate ACQ_FOLDER [options]: the report of one acquisition folder, written into it.
Runner setup_generate(CLI::App& command) {
  struct Args {
    std::string folder;
    std::optional<int> bin;
    std::optional<std::string> type;
    std::optional<std::string> layout;
    std::optional<std::string> separator;
    // A flag left out keeps the stored setting: only the options given count (an optional<bool>
    // flag target is set to false even when neither spelling is given).
    bool se = false, sd = false, n = false;
    CLI::Option* se_given = nullptr;
    CLI::Option* sd_given = nullptr;
    CLI::Option* n_given = nullptr;
    std::string basal;
    bool automatic = false;
  };
  auto args = std::make_shared<Args>();
  command.add_option("ACQ_FOLDER", args->folder, "acquisition folder")
      ->required()
      ->check(CLI::ExistingDirectory);
  command.add_option("--bin", args->bin, "report bin in minutes")->check(CLI::Range(1, 32767));
  command.add_option("--type", args->type, "csv, txt or xlsx")
      ->check(CLI::IsMember({"csv", "txt", "xlsx"}));
  command.add_option("--layout", args->layout, "rows, list, warray, charray or histogram")
      ->check(CLI::IsMember({"rows", "list", "warray", "charray", "histogram"}));
  command.add_option("--separator", args->separator, "field separator");
  args->se_given = command.add_flag("--se,!--no-se", args->se, "standard error section");
  args->sd_given = command.add_flag("--sd,!--no-sd", args->sd, "standard deviation section");
  args->n_given = command.add_flag("--n,!--no-n", args->n, "number-of-wells section");
  command.add_option("--basal", args->basal,
                     "basal acquisition folder name (yyyymmdd_hhmm) of the same project");
  command.add_flag("--auto", args->automatic,
                   "the automatic report an acquisition's end writes: then, when repoconf.dat "
                   "asks for raw export, the re-analysis with the raw detection flags");
  return [args](Context& context) {
    if (!context.data_dir) {
      std::cerr << "kestrova-report: generate needs --data-dir (the folder of the plate files)\n";
      return 2;
    }
    reports::GenerateRequest request = stored_report_request(*context.data_dir, args->folder);
    if (args->bin) request.settings.Bin = *args->bin;
    if (args->type) {
      request.file_type = *args->type == "txt"    ? reports::ReportFileType::Text
                          : *args->type == "xlsx" ? reports::ReportFileType::Workbook
                                                  : reports::ReportFileType::Csv;
      // The report window's rule: CSV uses the list separator, the other types a space.
      if (!args->separator)
        request.settings.spacer =
            *args->type == "csv" ? reports::current_list_separator() : std::string(" ");
    }
    if (args->layout) {
      static const std::pair<const char*, reports::ReportLayout> kLayouts[] = {
          {"rows", reports::ReportLayout::Rows},
          {"list", reports::ReportLayout::List},
          {"warray", reports::ReportLayout::WArray},
          {"charray", reports::ReportLayout::ChArray},
          {"histogram", reports::ReportLayout::Histogram}};
      for (const auto& [name, layout] : kLayouts)
        if (*args->layout == name) request.layout = layout;
    }
    if (args->separator) {
      if (const auto problem = reports::separator_problem(*args->separator)) {
        std::cerr << "kestrova-report: " << *problem << '\n';
        return 2;
      }
      request.settings.spacer = *args->separator;
    }
    if (args->se_given->count() > 0) request.settings.stdError = args->se ? 1 : 0;
    if (args->sd_given->count() > 0) request.settings.stdDev = args->sd ? 1 : 0;
    if (args->n_given->count() > 0) request.settings.n = args->n ? 1 : 0;
    if (!args->basal.empty()) request.basal_choice = args->basal;
    request.open_result = false;

    common::NoShell shell;
    common::NullEventPump pump;
    reports::ReportServices services{context.dialogs, shell, pump, context.clock, context.cancel};
    if (args->automatic) {
      reports::AutomaticReportRequest automatic = reports::automatic_report_request(
          request.acquisition_folder, *context.data_dir, request.settings,
          request.layout == reports::ReportLayout::Histogram);
      automatic.report = request;
      automatic.announce = false;
      automatic.paced = false;
      const reports::AutomaticReportResult done =
          reports::run_automatic_report(automatic, services);
      if (!done.report.ok) return 1;
      std::cout << done.report.result().string() << '\n';
      return done.raw_export && *done.raw_export != reports::ReanalysisResult::Outcome::Done ? 1
                                                                                             : 0;
    }
    const reports::GenerateResult result = reports::generate_report(request, services);
    if (!result.ok) return 1;
    std::cout << result.result().string() << '\n';
    return 0;
  };
}

} // namespace kestrova::tools
