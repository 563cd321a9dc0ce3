// Any bytes as counts.bin, through the report, the well export and the group table of an
// acquisition whose setup allows 600 minutes: each either refuses the file or makes output that
// grows with the number of records, never with what a time claims (the fuzzer's RSS limit
// catches the rest).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

#include "acquisition/activity_files.hpp"
#include "browser/group_table.hpp"
#include "common/clock.hpp"
#include "common/event_pump.hpp"
#include "common/shell.hpp"
#include "common/stderr_dialogs.hpp"
#include "fuzz/fuzz_support.hpp"
#include "reports/generate_report.hpp"
#include "reports/report_data.hpp"
#include "reports/well_export.hpp"
#include "store/channel_tables.hpp"
#include "store/setup_file.hpp"

using namespace kestrova;
namespace fs = std::filesystem;

namespace {

// The data folder with a 2 x 2 plate (wells on channels 0, 1, 16 and 17) and one acquisition
// folder without a date in its name, so that only its setup's lapse bounds its times.
const fs::path& acquisition_folder() {
  static const fs::path folder = [] {
    const fs::path data = fuzz::scratch_folder();
    std::string plate = "\"Test plate\",\"2x2\"\r\n2,2,0,2,2,0\r\n\"channels\"\r\n";
    for (int c = 0; c < 385; ++c) {
      const int well = c == 0 ? 0 : c == 1 ? 1 : c == 16 ? 2 : c == 17 ? 3 : -1;
      plate += "\"CH" + std::to_string(c) + "\"," + std::to_string(well) + ",0\r\n";
    }
    fuzz::write_bytes(data / "wtest.dat", plate);
    const fs::path acq = data / "p00001" / "acquisition";
    fs::create_directories(acq);
    store::SetupValues setup;
    setup.Plate_format = "wtest";
    setup.Aq_lapse = 600;
    fuzz::write_bytes(acq / "setup.dat", store::setup_file_text(1, setup));
    store::GroupTable groups;
    groups.names[0] = "Ctrl";
    groups.names[1] = "Drug";
    groups.channel_group.fill(-1);
    groups.channel_group[0] = groups.channel_group[1] = 0;
    groups.channel_group[16] = 1;
    fuzz::write_bytes(acq / "groups.dat", store::GroupNamesText(groups));
    fuzz::write_bytes(acq / "chgroup.dat", store::ChannelGroupsText(groups));
    return acq;
  }();
  return folder;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size < 1) return 0;
  const fs::path& folder = acquisition_folder();
  // The first byte picks the bin (1 to 64) and the layout; the rest is the file.
  const int bin = 1 + (data[0] & 0x3F);
  const auto layout = static_cast<reports::ReportLayout>((data[0] >> 6) & 3);
  fuzz::write_bytes(folder / "counts.bin", data + 1, size - 1);

  common::StderrDialogs dialogs({}, /*quiet=*/true);
  common::NoShell shell;
  common::NullEventPump pump;
  common::SystemClock clock;
  reports::ReportServices services{dialogs, shell, pump, clock};

  const auto rows = reports::read_counts_rows(folder / "counts.bin");
  // Accepted rows run forward and stay within the lapse plus a day.
  if (rows)
    for (std::size_t r = 0; r < rows->size(); ++r)
      fuzz::check(rows->time[r] >= 0 && rows->time[r] <= 600 + 1440 &&
                  (r == 0 || rows->time[r] >= rows->time[r - 1]));

  reports::GenerateRequest request;
  request.acquisition_folder = folder;
  request.data_folder = fuzz::scratch_folder();
  request.settings = reports::default_report_settings(",");
  request.settings.Bin = bin;
  request.layout = layout;
  request.autoreport = true;
  request.open_result = false;
  const reports::GenerateResult report = reports::generate_report(request, services);
  fuzz::check(!report.ok || rows.has_value());

  reports::WellExportRequest wells;
  wells.acquisition_folder = folder;
  wells.data_folder = fuzz::scratch_folder();
  wells.bin = bin;
  wells.time_stamps = true;
  const reports::WellExportResult exported = reports::export_well_series(wells, dialogs);
  fuzz::check(!exported.ok || rows.has_value());

  browser::ChannelGroups groups;
  groups.fill(-1);
  groups[0] = groups[1] = 0;
  groups[16] = 1;
  const auto table = browser::group_activity(folder, groups, bin, true, dialogs);
  // A file without a whole record makes an empty table but no rows.
  const bool records = size - 1 >= acquisition::kCountsRecordBytes;
  fuzz::check(!records || table.has_value() == rows.has_value());
  return 0;
}
