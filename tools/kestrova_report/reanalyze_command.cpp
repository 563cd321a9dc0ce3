#include <algorithm>
#include <charconv>
#include <iostream>
#include <memory>
#include <unistd.h>

#include "commands.hpp"
#include "common/event_pump.hpp"
#include "common/number_format.hpp"
#include "reports/counts_replace.hpp"
#include "reports/reanalysis.hpp"

namespace kestrova::tools {

namespace {

std::optional<double> threshold_value(std::string text) {
  std::replace(text.begin(), text.end(), ',', '.');
  double value = 0;
  const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || ptr != text.data() + text.size()) return std::nullopt;
  return value;
}

constexpr const char* kDefaultsHelp =
    "Defaults for what the report window would show:\n"
    "  --organism   repoconf.dat's organism (0 without the file)\n"
    "  --method     2 for organism 2 (Echinococcus), 3 for organism 3 (Drosophila), else\n"
    "               repoconf.dat's method\n"
    "  --threshold  the organism's preset (1.8, 2.8, 1.8, 0.8) when --organism is given; else\n"
    "               repoconf.dat's threshold / 10, or the preset when that lies outside the\n"
    "               organism's range. A --threshold outside the range (0.5 to 1 for\n"
    "               Drosophila, 1.1 to 6 for the others) is refused.\n"
    "  --hours      the whole recording; the counts then serve this report only. --hours H\n"
    "               takes the records up to the one at minute H x 60 (at least 5 minutes).\n"
    "  --bin        repoconf.dat's bin (30 without the file)\n"
    "--replace writes the new counts into counts.bin (the old file is kept as counts.bak) and the\n"
    "method, organism and threshold into setup.dat (old one kept as setup.bak), both in one\n"
    "step; it always takes the whole recording. The first replace also keeps the counts and\n"
    "setup recorded live as counts.rec and setup.rec, which no later replace touches and\n"
    "`kestrova-report restore` puts back. It is refused while an acquisition records into the\n"
    "folder. --export-raw appends the detection flags to ch<channel>.raw and cannot\n"
    "be combined with --replace. Nothing in the folder changes before every block has been\n"
    "counted, so interrupting the count (Ctrl-C, SIGTERM, SIGHUP) changes nothing, and counts.bin\n"
    "is replaced by a rename, whole or not at all. Real-time files whose sizes do not fit the\n"
    "buffer length of setup.dat are refused. The report uses repoconf.dat's type, layout and "
    "statistics\n"
    "(no basal normalisation); its path is printed.";

} // namespace

// reanalyze ACQ_FOLDER [options]: counts again from the real-time files, then the report.
Runner setup_reanalyze(CLI::App& command) {
  struct Args {
    std::string folder;
    std::optional<int> method, organism, bin;
    std::optional<std::string> threshold;
    std::optional<double> hours;
    bool replace = false;
    bool export_raw = false;
  };
  auto args = std::make_shared<Args>();
  command.add_option("ACQ_FOLDER", args->folder, "acquisition folder")
      ->required()
      ->check(CLI::ExistingDirectory);
  command.add_option("--method", args->method, "detection method 0-3")->check(CLI::Range(0, 3));
  command
      .add_option("--organism", args->organism,
                  "0 C elegans, 1 Zebrafish, 2 Echinococcus, 3 Drosophila")
      ->check(CLI::Range(0, 3));
  command.add_option("--threshold", args->threshold, "detection threshold (SNR)");
  auto* hours = command.add_option("--hours", args->hours, "hours analysed from the start")
                    ->check(CLI::PositiveNumber);
  auto* replace =
      command.add_flag("--replace", args->replace, "write the counts back (whole recording)");
  replace->excludes(hours);
  command.add_flag("--export-raw", args->export_raw, "export the detection flags")
      ->excludes(replace);
  command.add_option("--bin", args->bin, "report bin in minutes")->check(CLI::Range(1, 32767));
  command.footer(kDefaultsHelp);
  return [args](Context& context) {
    if (!context.data_dir) {
      std::cerr << "kestrova-report: reanalyze needs --data-dir (the folder of the plate files)\n";
      return 2;
    }
    reports::ReanalysisRequest request;
    request.report = stored_report_request(*context.data_dir, args->folder);
    const reports::ReportSettings& stored = request.report.settings;
    request.organism = args->organism ? *args->organism : stored.organism;
    const int organism = request.organism;
    request.method = args->method                         ? *args->method
                     : reports::organism_method(organism) ? *reports::organism_method(organism)
                                                          : stored.method;
    if (args->threshold) {
      const auto value = threshold_value(*args->threshold);
      if (!value || !reports::threshold_in_range(organism, *value)) {
        std::cerr << "kestrova-report: --threshold " << *args->threshold << " is outside "
                  << (organism == 3 ? "0.5 to 1" : "1.1 to 6") << " for "
                  << reports::organism_names()[organism] << '\n';
        return 2;
      }
      request.threshold_text = *args->threshold;
    } else {
      const double from_file = stored.threshold / 10.0;
      request.threshold_text = !args->organism && reports::threshold_in_range(organism, from_file)
                                   ? common::format_display(from_file, "0.0", '.')
                                   : reports::organism_threshold_text(organism);
    }
    request.hours = args->hours;
    request.replace = args->replace;
    request.export_raw = args->export_raw;
    if (args->bin) request.report.settings.Bin = *args->bin;

    common::NoShell shell;
    common::NullEventPump pump;
    reports::ReportServices services{context.dialogs, shell, pump, context.clock, context.cancel};
    reports::ReanalysisControl control;
    if (::isatty(STDERR_FILENO)) {
      control.show_status = [](std::string_view status) {
        std::cerr << '\r' << status << "      " << std::flush;
      };
    }
    const reports::ReanalysisResult result = reports::run_reanalysis(request, services, control);
    if (control.show_status) std::cerr << '\n';
    if (!result.ok() || !result.report.ok) return 1;
    std::cout << result.report.result().string() << '\n';
    return 0;
  };
}

// restore ACQ_FOLDER: puts back the counts and setup recorded live.
Runner setup_restore(CLI::App& command) {
  auto folder = std::make_shared<std::string>();
  command.add_option("ACQ_FOLDER", *folder, "acquisition folder")
      ->required()
      ->check(CLI::ExistingDirectory);
  command.footer("counts.rec and setup.rec (kept by the first reanalyze --replace) become\n"
                 "counts.bin and setup.dat again, in one step; the files they replace are kept\n"
                 "as counts.bak and setup.bak.");
  return [folder](Context& context) {
    if (const auto problem = reports::restore_recorded_counts(*folder)) {
      context.dialogs.message(*problem);
      return 1;
    }
    return 0;
  };
}

} // namespace kestrova::tools
