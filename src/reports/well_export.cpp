#include "reports/well_export.hpp"

#include <cstdio>
#include <utility>
#include <vector>

#include "acquisition/activity_files.hpp"
#include "common/file_commit.hpp"
#include "common/rounding.hpp"
#include "common/safe_file.hpp"
#include "reports/report_data.hpp"
#include "reports/report_statistics.hpp"
#include "store/record_file.hpp"

namespace kestrova::reports {

namespace fs = std::filesystem;

namespace {

std::string padded(long value, int digits) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%0*ld", digits, value);
  return buffer;
}

// The well label: row letter, then the column number from 1.
std::string well_label(int well, int plate_rows) {
  const int rows = plate_rows > 0 ? plate_rows : 1;
  return std::string(1, static_cast<char>('A' + well % rows)) + std::to_string(well / rows + 1);
}

bool well_has_channel(const AcquisitionLayout& layout, int well) {
  for (int p = 0; p <= layout.greatest_position; ++p)
    if (layout.channel_at(well, p) >= 0) return true;
  return false;
}

} // namespace

int adjust_export_bin(int requested_bin, std::int32_t last_time) {
  int bin = std::max(requested_bin, 2);
  const std::int64_t length = static_cast<std::int64_t>(last_time) + 1;
  if (length < bin) bin = static_cast<int>(length <= 30 ? length : length / 15 * 15);
  return std::max(bin, 1);
}

std::string export_stamp(const common::CivilTime& t) {
  char buffer[48];
  std::snprintf(buffer, sizeof buffer, "%02d/%02d/%04d %02d:%02d", t.day, t.month, t.year, t.hour,
                t.minute);
  return buffer;
}

std::optional<common::CivilTime> acquisition_start(const fs::path& folder) {
  const std::string name = folder.filename().string();
  int y = 0, mo = 0, d = 0, h = 0, mi = 0;
  char tail = 0;
  if (name.size() != 13 ||
      std::sscanf(name.c_str(), "%4d%2d%2d_%2d%2d%c", &y, &mo, &d, &h, &mi, &tail) != 5)
    return std::nullopt;
  for (std::size_t i = 0; i < name.size(); ++i)
    if (i != 8 && (name[i] < '0' || name[i] > '9')) return std::nullopt;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59) return std::nullopt;
  return common::CivilTime{y, mo, d, h, mi, 0, 0};
}

WellExportResult export_well_series(const WellExportRequest& request, common::Dialogs& dialogs) {
  WellExportResult result;
  const fs::path& folder = request.acquisition_folder;
  const fs::path counts = folder / acquisition::kCountsFileName;
  // A replace of its files that a kill interrupted is completed (or dropped) first.
  common::settle_pending_commit(folder);
  if (!store::FileExists(counts)) {
    dialogs.message(kActivityNotFound);
    return result;
  }
  auto layout = load_acquisition_layout(folder, request.data_folder, dialogs);
  if (!layout) return result;
  auto rows = load_counts_rows(counts, dialogs, request.cancel);
  if (!rows || common::cancelled(request.cancel)) return result;

  const std::int32_t last = rows->last_time();
  const int bin = adjust_export_bin(request.bin, last);
  result.bin = bin;
  auto numbers =
      compute_report_numbers(*rows, last, bin, false, *layout, ReportLayout::Rows, folder, dialogs);
  if (!numbers) return result;
  const int n = std::max(1, common::round_to_int(static_cast<double>(last) / bin));
  result.bins = n;

  // Every file's text is made first and the files are written only when no stop was asked
  // for by then: an interrupted export changes nothing.
  std::vector<std::pair<fs::path, std::string>> files;
  if (request.time_stamps) {
    const common::CivilTime start =
        request.start ? *request.start : acquisition_start(folder).value_or(request.now);
    const common::LocalTime origin = common::from_civil(start);
    for (int w = 0; w <= layout->greatest_well; ++w) {
      if (!well_has_channel(*layout, w)) continue;
      std::string text;
      for (int j = 1; j <= n; ++j) {
        const auto at = origin + std::chrono::minutes(static_cast<std::int64_t>(j) * bin);
        text +=
            export_stamp(common::to_civil(at)) + " " + std::to_string(numbers->well(j, w)) + "\r\n";
      }
      files.emplace_back(folder /
                             (padded(w, 3) + "_" + well_label(w, layout->geometry.rows) + ".txt"),
                         std::move(text));
    }
  } else {
    for (int c = 0; c < kChannels; ++c) {
      std::string text;
      for (int j = 1; j <= n; ++j) {
        if (j > 1) text += ' ';
        text += std::to_string(numbers->channel(j, c));
      }
      text += "\r\n";
      files.emplace_back(folder / ("ch" + padded(c, 6) + ".txt"), std::move(text));
    }
    std::string text;
    for (int j = 1; j <= n; ++j) {
      if (j > 1) text += ' ';
      text += std::to_string(static_cast<std::int64_t>(j) * bin * 60);
    }
    text += "\r\n";
    files.emplace_back(folder / "time.txt", std::move(text));
  }
  if (common::cancelled(request.cancel)) return result;
  // Each file is replaced whole (a symbolic link in its place is refused, not followed); a
  // failure shows its reason, then "Report Error".
  for (const auto& [file, text] : files) {
    if (std::string why; !common::write_file_atomically(file, text, &why)) {
      dialogs.message(why);
      dialogs.message("Report Error");
      return result;
    }
    result.files.push_back(file);
  }
  result.ok = true;
  return result;
}

} // namespace kestrova::reports
