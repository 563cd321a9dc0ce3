#include "browser/browser_acquisition.hpp"

#include <algorithm>
#include <array>
#include <charconv>

#include "common/file_commit.hpp"
#include "common/number_format.hpp"
#include "store/record_file.hpp"
#include "store/setup_file.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;

namespace {

constexpr int kOrganismTool = 0;
constexpr int kOrganismSetting = 0;
constexpr int kSnrSetting = 3;

// Builds the (position, well) -> channel table of the plate map, -1 where no channel lies.
void build_well_table(AcquisitionTables& tables) {
  const store::WellMap& map = tables.plate.map;
  tables.greatest_well = -1;
  tables.greatest_position = 0;
  for (int c = 0; c < store::kChannelCount; ++c) {
    if (map.well_of_channel[c] < 0) continue;
    tables.greatest_well = std::max(tables.greatest_well, map.well_of_channel[c]);
    tables.greatest_position = std::max(tables.greatest_position, map.position_of_channel[c]);
  }
  const std::size_t positions = static_cast<std::size_t>(tables.greatest_position) + 1;
  tables.well_channel.assign(static_cast<std::size_t>(tables.greatest_well + 1) * positions, -1);
  for (int c = 0; c < store::kChannelCount; ++c) {
    const int well = map.well_of_channel[c];
    const int position = map.position_of_channel[c];
    if (well < 0 || position < 0) continue;
    tables.well_channel[static_cast<std::size_t>(well) * positions + position] = c;
  }
}

std::string group_item(int group, const std::string& name) {
  return common::format_display(group, "000") + "_" + name;
}

} // namespace

int AcquisitionTables::channel_at(int position, int well) const {
  if (well < 0 || well > greatest_well || position < 0 || position > greatest_position) return -1;
  return well_channel[static_cast<std::size_t>(well) * (greatest_position + 1) + position];
}

int AcquisitionTables::channels_in_group(int group) const {
  return static_cast<int>(std::count(groups.channel_group.begin(),
                                     groups.channel_group.begin() + store::kChannelCount, group));
}

int ProjectNumberOfFolder(std::string_view project_folder) {
  if (project_folder.size() < 2) return 0;
  int number = 0;
  const char* first = project_folder.data() + 1;
  const char* last = project_folder.data() + project_folder.size();
  const auto [end, ec] = std::from_chars(first, last, number);
  return ec == std::errc() && end == last ? number : 0;
}

AcquisitionTables LoadAcquisitionTables(const fs::path& acquisition_folder,
                                        const fs::path& program_folder, int project_number,
                                        common::Dialogs& dialogs) {
  AcquisitionTables tables;
  // A replace of its files that a kill interrupted is completed (or dropped) first.
  common::settle_pending_commit(acquisition_folder);
  store::ProjectState state;
  state.app_folder = program_folder;
  state.project_folder = acquisition_folder;
  store::LoadSetup(state, project_number, dialogs);
  tables.setup = state.setup;
  int& snr = tables.setup.tool_settings[kOrganismTool][kSnrSetting];
  if (snr < 5) snr = 18;

  if (store::FileExists(acquisition_folder / store::kStatusFile))
    store::LoadChannelStatus(acquisition_folder, project_number, tables.channels, dialogs);
  store::LoadThresholds(acquisition_folder, project_number, tables.channels, dialogs);
  store::GroupTables groups;
  store::LoadGroupNames(acquisition_folder, project_number, groups, dialogs);
  store::LoadChannelGroups(acquisition_folder, project_number, groups, dialogs);
  tables.groups = groups.main();

  store::PlateFormat plate;
  const store::PlateReadResult read =
      store::ReadPlateFormatOrBackup(program_folder, tables.setup.Plate_format, plate, dialogs);
  if (read.ok) {
    tables.plate = plate;
    tables.plate_loaded = true;
    build_well_table(tables);
  }
  return tables;
}

Selectors BuildSelectors(const AcquisitionTables& tables) {
  Selectors s;
  if (tables.plate_loaded) {
    for (int r = 0; r < tables.plate.geometry.rows; ++r)
      s.rows.emplace_back(1, static_cast<char>('A' + r % 26));
    for (int c = 1; c <= tables.plate.geometry.columns; ++c)
      s.columns.push_back(std::to_string(c));
  }
  std::array<int, store::kGroupCount> count{};
  for (int c = 0; c < store::kChannelCount; ++c) {
    const int g = tables.groups.channel_group[c];
    if (g >= 0 && g < store::kGroupCount) ++count[g];
  }
  for (int g = 0; g < store::kGroupCount; ++g)
    if (count[g] > 0) s.plot_groups.push_back(group_item(g, tables.groups.names[g]));
  s.groups = s.plot_groups;
  s.groups.push_back("999_Free");
  return s;
}

std::string OrganismName(int organism) {
  static constexpr const char* kNames[] = {"C.elegans", "Zebrafish", "Echinococcus", "Drosophila"};
  return organism >= 0 && organism < 4 ? kNames[organism] : "";
}

std::string SnrText(const store::SetupValues& setup, char decimal_separator) {
  int snr = setup.tool_settings[kOrganismTool][kSnrSetting];
  if (snr < 5) snr = 18;
  return common::format_display(snr / 10.0, "0.0", decimal_separator);
}

std::string ConfigurationSummary(const store::SetupValues& setup, char decimal_separator) {
  const std::string item = "\r\n\t";
  const int organism = setup.tool_settings[kOrganismTool][kOrganismSetting];
  return item + "***** CONFIG ******" + item + "Microplate format: [" + setup.Plate_format + "]" +
         item + "Acquisition Lapse = " + std::to_string(setup.Aq_lapse) + "min" + item +
         "Setting: Mode" + std::to_string(setup.DSP_Method) + item + "[" + OrganismName(organism) +
         " SNR=" + SnrText(setup, decimal_separator) + "]";
}

std::string DetailsText(std::string_view summary) {
  std::string text;
  std::size_t start = 0;
  for (int line = 0; line < 9 && start <= summary.size(); ++line) {
    std::size_t end = summary.find('\r', start);
    if (end == std::string_view::npos) end = summary.size();
    for (const char c : summary.substr(start, end - start))
      if (c != '\t' && c != '\n') text += c;
    text += "\r\n";
    start = end + 1;
  }
  return text;
}

ReportPreset ReportPresetOf(const store::SetupValues& setup, char decimal_separator) {
  return {setup.tool_settings[kOrganismTool][kOrganismSetting], setup.DSP_Method,
          SnrText(setup, decimal_separator)};
}

bool TrackAvailable(const store::SetupValues& setup) {
  const int organism = setup.tool_settings[kOrganismTool][kOrganismSetting];
  return setup.Plate_format == "w6" && (organism == 1 || organism == 3);
}

std::vector<std::string> BracketedTags(std::string_view tag_text) {
  std::vector<std::string> tags;
  std::size_t from = 0;
  while (true) {
    const std::size_t open = tag_text.find('[', from);
    if (open == std::string_view::npos) break;
    const std::size_t close = tag_text.find(']', open);
    if (close == std::string_view::npos) break;
    tags.emplace_back(tag_text.substr(open, close - open + 1));
    from = close + 1;
  }
  return tags;
}

} // namespace kestrova::browser
