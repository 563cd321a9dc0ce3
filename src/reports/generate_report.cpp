#include "reports/generate_report.hpp"

#include <cstdio>
#include <vector>

#include "acquisition/activity_files.hpp"
#include "common/file_commit.hpp"
#include "common/number_format.hpp"
#include "reports/csv_to_xlsx.hpp"
#include "reports/rebin.hpp"
#include "reports/report_basal.hpp"
#include "reports/report_data.hpp"
#include "reports/report_statistics.hpp"
#include "reports/report_writer.hpp"
#include "store/record_file.hpp"
#include "store/subproj.hpp"
#include "workbook/number_text.hpp"

namespace kestrova::reports {

namespace fs = std::filesystem;

namespace {

// "yyyymmddhhmmss" of a time.
std::string stamp(const common::CivilTime& t) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%04d%02d%02d%02d%02d%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buffer;
}

// Scratch files of a report, removed when the report ends whatever its outcome.
class Scratch {
public:
  explicit Scratch(std::vector<fs::path> files) : files_(std::move(files)) {}
  Scratch(const Scratch&) = delete;
  Scratch& operator=(const Scratch&) = delete;
  ~Scratch() {
    std::error_code ec;
    for (const fs::path& file : files_)
      fs::remove(file, ec);
  }

private:
  std::vector<fs::path> files_;
};

// Converts the report's text into a workbook under a scratch name in the acquisition folder,
// from a scratch copy of the CSV: nothing of the folder's own files changes meanwhile.
bool make_workbook(const fs::path& csv, const fs::path& xlsx, const std::string& text,
                   const GenerateRequest& request, ReportServices& services) {
  if (!store::save_file_atomically(csv, text)) {
    services.dialogs.message("Report Error");
    return false;
  }
  return Convertir_csv_xlsx(csv, xlsx, request.settings.spacer, request.data_folder,
                            workbook::locale_number_format(), services.dialogs, services.clock,
                            Threading::Background,
                            services.cancel ? services.cancel->flag() : nullptr);
}

} // namespace

GenerateResult generate_report(const GenerateRequest& request, ReportServices& services) {
  GenerateResult result;
  common::Dialogs& dialogs = services.dialogs;
  const fs::path& folder = request.acquisition_folder;
  // True once a stop was asked for: the report then ends before anything is written.
  const auto stopped = [&] {
    result.cancelled = common::cancelled(services.cancel);
    return result.cancelled;
  };
  const fs::path counts = folder / acquisition::kCountsFileName;
  // A replace of its files that a kill interrupted is completed (or dropped) first.
  common::settle_pending_commit(folder);
  if (!store::FileExists(counts)) {
    dialogs.message(kActivityNotFound);
    return result;
  }
  if (const auto problem = separator_problem(request.settings.spacer)) {
    dialogs.message(*problem);
    return result;
  }
  auto layout = load_acquisition_layout(folder, request.data_folder, dialogs);
  if (!layout) return result;
  const char decimal = common::locale_decimal_separator();
  const std::string setting =
      request.setting_text ? *request.setting_text : setting_text_from_setup(folder, decimal);

  std::optional<ActivityRows> loaded;
  if (!request.rows) loaded = load_counts_rows(counts, dialogs, services.cancel);
  const ActivityRows* rows = request.rows ? &*request.rows : loaded ? &*loaded : nullptr;
  if (stopped() || !rows) return result;
  const int bin = adjust_report_bin(request.settings.Bin, rows->last_time());
  result.bin = bin;
  RebinResult rebinned = rebin_rows(*rows, bin);
  if (!rebinned.ok()) {
    dialogs.message("Resampling ERROR");
    return result;
  }
  const std::int32_t last_time = rebinned.rows.last_time();

  const bool basal = basal_choice_applies(request.basal_choice);
  if (stopped() || (basal && !normalise_to_basal(folder, request.basal_choice, bin, rebinned.rows,
                                                 *layout, dialogs)))
    return result;

  auto numbers = compute_report_numbers(rebinned.rows, last_time, bin, basal, *layout,
                                        request.layout, folder, dialogs);
  if (!numbers || stopped()) return result;

  const ReportHeading heading{report_date_text(common::to_civil(services.clock.now())),
                              folder.string(), store::ReadAcquisitionTitle(folder), setting,
                              request.basal_choice};
  const ReportFormat format{request.layout,
                            request.settings.spacer,
                            decimal,
                            request.settings.stdError != 0,
                            request.settings.stdDev != 0,
                            request.settings.n != 0};
  const std::string text = report_file_text(*numbers, *layout, heading, format);
  const std::string extension = request.file_type == ReportFileType::Text ? ".txt" : ".csv";
  const bool workbook = !request.autoreport && request.file_type == ReportFileType::Workbook;
  const fs::path workbook_csv = folder / ".report-workbook.csv";
  const fs::path workbook_partial = folder / ".report-workbook.xlsx";
  const Scratch scratch(workbook ? std::vector<fs::path>{workbook_csv, workbook_partial}
                                 : std::vector<fs::path>{});
  if (stopped() ||
      (workbook && !make_workbook(workbook_csv, workbook_partial, text, request, services)) ||
      stopped())
    return result;

  auto report = save_report_file(folder, extension, text);
  if (!report) {
    dialogs.message("Report Error");
    return result;
  }
  result.report = *report;
  for (int i = 0; i < 1000; ++i)
    services.pump.process_events();

  const std::string title = title_file_name(heading.title);
  if (!title.empty()) store::save_file_atomically(folder / (title + extension), text);

  if (request.autoreport) {
    result.ok = true;
    return result;
  }
  if (workbook) {
    const fs::path xlsx = folder / (report->stem().string() + "_" +
                                    stamp(common::to_civil(services.clock.now())) + ".xlsx");
    std::error_code ec;
    fs::rename(workbook_partial, xlsx, ec);
    if (ec) {
      dialogs.message("Report Error");
      return result;
    }
    result.workbook = xlsx;
    if (request.open_result) {
      services.clock.sleep_ms(100);
      services.shell.open(xlsx);
    }
  } else if (request.open_result) {
    services.shell.open(*report);
  }
  result.ok = true;
  return result;
}

} // namespace kestrova::reports
