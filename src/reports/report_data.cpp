#include "reports/report_data.hpp"

#include <algorithm>

#include "acquisition/activity_files.hpp"
#include "acquisition/counts_reader.hpp"
#include "common/number_format.hpp"
#include "store/channel_tables.hpp"
#include "store/record_file.hpp"
#include "store/setup_file.hpp"

namespace kestrova::reports {

namespace fs = std::filesystem;

namespace {

std::string error_loading(const fs::path& file) { return "Error loading " + file.string(); }

// Reads a group file: a header, then records (number, value) into entries 0, 1, 2, ...
template <typename Store>
bool read_group_file(const fs::path& file, int entries, Store&& store_entry) {
  auto reader = store::RecordReader::open(file);
  if (!reader || !reader->read_string()) return false;
  for (int i = 0; i < entries && !reader->at_end(); ++i) {
    int number = 0;
    if (!reader->read(number) || !store_entry(*reader, i)) return false;
  }
  return true;
}

} // namespace

std::int32_t ActivityRows::last_time() const {
  return time.empty() ? 0 : *std::max_element(time.begin(), time.end());
}

int AcquisitionLayout::channel_at(int well, int position) const {
  if (well < 0 || well > greatest_well || position < 0 || position > greatest_position) return -1;
  return well_channel[static_cast<std::size_t>(well) * (greatest_position + 1) + position];
}

void AcquisitionLayout::rebuild_table() {
  greatest_well = -1;
  greatest_position = 0;
  for (int c = 0; c < kChannels; ++c) {
    if (well_of_channel[c] < 0) continue;
    greatest_well = std::max(greatest_well, well_of_channel[c]);
    greatest_position = std::max(greatest_position, position_of_channel[c]);
  }
  well_channel.assign(static_cast<std::size_t>(greatest_well + 1) * (greatest_position + 1), -1);
  for (int c = 0; c < kChannels; ++c) {
    if (well_of_channel[c] < 0) continue;
    well_channel[static_cast<std::size_t>(well_of_channel[c]) * (greatest_position + 1) +
                 position_of_channel[c]] = c;
  }
}

int AcquisitionLayout::largest_group() const {
  return *std::max_element(channel_group.begin(), channel_group.begin() + kChannels);
}

std::optional<AcquisitionLayout> load_acquisition_layout(const fs::path& folder,
                                                         const fs::path& data_folder,
                                                         common::Dialogs& dialogs) {
  AcquisitionLayout layout;
  const fs::path setup = folder / store::kSetupFileName;
  {
    auto lines = store::read_text_lines(setup);
    std::string name, working, plate;
    int number = 0;
    if (!lines || lines->size() < 2 ||
        !store::RecordReader((*lines)[1]).read(number, name, working, plate) || plate.empty()) {
      dialogs.message(error_loading(setup));
      return std::nullopt;
    }
    layout.plate_name = plate;
  }

  const fs::path names_file = folder / store::kGroupNamesFile;
  if (!read_group_file(names_file, kGroupSlots, [&](store::RecordReader& r, int i) {
        auto name = r.read_string();
        if (name) layout.group_names[i] = *name;
        return name.has_value();
      })) {
    dialogs.message(error_loading(names_file));
    return std::nullopt;
  }
  const fs::path groups_file = folder / store::kChannelGroupsFile;
  if (!read_group_file(groups_file, store::kChannelSlots, [&](store::RecordReader& r, int i) {
        auto group = r.read_integer();
        if (!group || *group < -1 || *group >= store::kGroupCount) return false;
        layout.channel_group[i] = *group;
        return true;
      })) {
    dialogs.message(error_loading(groups_file));
    return std::nullopt;
  }

  store::PlateFormat plate;
  const store::PlateReadResult read =
      store::ReadPlateFormatOrBackup(data_folder, layout.plate_name, plate, dialogs);
  if (!read.ok) {
    if (read.step > 0) {
      const auto file = store::FindPlateFormatFile(data_folder, layout.plate_name, true);
      dialogs.message(error_loading(file ? *file : data_folder / (layout.plate_name + ".dat")));
    }
    return std::nullopt;
  }
  layout.geometry = plate.geometry;
  layout.well_of_channel = plate.map.well_of_channel;
  layout.position_of_channel = plate.map.position_of_channel;
  layout.rebuild_table();
  if (layout.largest_group() < 0) {
    dialogs.message("No channel belongs to a group in " + groups_file.string());
    return std::nullopt;
  }
  return layout;
}

std::string setting_text_from_setup(const fs::path& folder, char decimal_separator) {
  auto lines = store::read_text_lines(folder / store::kSetupFileName);
  if (!lines || lines->size() < 10) return {};
  int v[6] = {};
  if (!store::RecordReader((*lines)[3]).read(v[0], v[1], v[2], v[3], v[4], v[5])) return {};
  const int mode = v[4];
  if (!store::RecordReader((*lines)[9]).read(v[0], v[1], v[2], v[3], v[4], v[5])) return {};
  const int organism = v[0];
  const int threshold = v[3] < 5 ? 18 : v[3];
  static constexpr const char* kOrganisms[] = {"C.elegans", "Zebrafish", "Echinococcus"};
  const std::string name = organism >= 0 && organism < 3 ? kOrganisms[organism] : "";
  return "Mode" + std::to_string(mode) + " " + name +
         "[snr=" + common::format_display(threshold / 10.0, "0.0", decimal_separator) + "]";
}

std::optional<ActivityRows> read_counts_rows(const fs::path& counts_file, std::string* problem,
                                             const common::Cancellation* cancel) {
  const std::int64_t n = acquisition::counts_record_count(counts_file);
  ActivityRows rows;
  rows.resize(static_cast<std::size_t>(std::max<std::int64_t>(n, 0)));
  std::size_t r = 0;
  const acquisition::CountsReadResult read = acquisition::read_counts_records(
      counts_file,
      [&](const acquisition::CountsRecordView& record) {
        // A file that grew meanwhile is read as far as it was when it was measured.
        if (r >= rows.size()) return false;
        rows.time[r] = static_cast<std::int32_t>(record.time);
        std::int32_t* row = rows.row(r);
        for (int c = 0; c < kChannels; ++c)
          row[c] = record.slot(c);
        rows.temperature[r] = record.slot(kChannels);
        ++r;
        return true;
      },
      cancel);
  if (!read.ok() || r == 0) {
    if (problem != nullptr)
      *problem = read.outcome == acquisition::CountsReadResult::Outcome::Damaged
                     ? read.problem
                     : error_loading(counts_file);
    return std::nullopt;
  }
  if (r < rows.size()) {
    rows.time.resize(r);
    rows.temperature.resize(r);
    rows.counts.resize(r * kChannels);
  }
  return rows;
}

std::optional<ActivityRows> load_counts_rows(const fs::path& counts_file, common::Dialogs& dialogs,
                                             const common::Cancellation* cancel) {
  std::string problem;
  auto rows = read_counts_rows(counts_file, &problem, cancel);
  if (!rows && !common::cancelled(cancel)) dialogs.message(problem);
  return rows;
}

} // namespace kestrova::reports
