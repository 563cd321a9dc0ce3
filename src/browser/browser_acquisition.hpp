#pragma once

// An opened acquisition: the copies of the project tables its folder keeps, the plate map
// they refer to, the selectors filled from them and the configuration summary.

#include <filesystem>
#include <string>
#include <vector>

#include "common/dialogs.hpp"
#include "store/channel_tables.hpp"
#include "store/plate_format.hpp"
#include "store/project_state.hpp"

namespace kestrova::browser {

// The tables of one acquisition folder.
struct AcquisitionTables {
  store::SetupValues setup;
  store::ChannelTables channels; // every channel enabled when status.dat is missing
  store::GroupTable groups;      // names of groups 0..383 and the group of each channel
  store::PlateFormat plate;      // as read from the plate file; built-in default otherwise
  bool plate_loaded = false;
  int greatest_well = -1;
  int greatest_position = 0;
  // (greatest_well + 1) x (greatest_position + 1) channels, -1 where no channel lies.
  std::vector<int> well_channel;

  // The channel at (position, well); -1 for none or outside the table.
  int channel_at(int position, int well) const;
  // Channels 0..383 in group g (-1 for free channels).
  int channels_in_group(int group) const;
};

// Loads setup.dat, status.dat, threshld.dat, groups.dat and chgroup.dat of `acquisition_folder`
// (a missing status.dat enables every channel; the other files keep their own fallbacks and
// messages) and the plate file named by the setup from `program_folder`, or its .bak. A missing
// plate file shows "Multiwell Configuration File <name>.dat or .bak not found" and leaves the
// tables loaded so far. `project_number` is the number of the acquisition's project folder.
AcquisitionTables LoadAcquisitionTables(const std::filesystem::path& acquisition_folder,
                                        const std::filesystem::path& program_folder,
                                        int project_number, common::Dialogs& dialogs);

// The project number of a folder name "p00007"; 0 when the rest is not a number.
int ProjectNumberOfFolder(std::string_view project_folder);

// The items of the well and group selectors.
struct Selectors {
  std::vector<std::string> rows;        // Combofila: "A", "B", ... one per plate row
  std::vector<std::string> columns;     // Combocol: "1" .. columns
  std::vector<std::string> groups;      // combogrup: "000_name" per group with channels, then
                                        // "999_Free"
  std::vector<std::string> plot_groups; // lstgrup_plot: the same without "999_Free"
};
Selectors BuildSelectors(const AcquisitionTables& tables);

// The organism names by index: "C.elegans", "Zebrafish", "Echinococcus", "Drosophila"; empty
// for any other index.
std::string OrganismName(int organism);

// What the report window takes from an opened acquisition.
struct ReportPreset {
  int organism = 0;
  int detection_method = 0;
  std::string threshold; // SNR in "0.0"
};

// The SNR of a setup (SNRx10 below 5 taken as 18) in "0.0".
std::string SnrText(const store::SetupValues& setup, char decimal_separator = '.');

// The configuration summary: CR LF TAB "***** CONFIG ******", then CR LF TAB before each of
// the plate format, lapse, detection mode and organism with its SNR.
std::string ConfigurationSummary(const store::SetupValues& setup, char decimal_separator = '.');

// The configuration summary as the details box shows it: its lines (split at CR) without TABs,
// CRs and LFs, each followed by CR LF, nine at most.
std::string DetailsText(std::string_view summary);

ReportPreset ReportPresetOf(const store::SetupValues& setup, char decimal_separator = '.');

// The track command is offered for six-well plates of zebrafish (1) or Drosophila (3).
bool TrackAvailable(const store::SetupValues& setup);

// The pieces of a tag text that run from a "[" to the next "]", in order.
std::vector<std::string> BracketedTags(std::string_view tag_text);

} // namespace kestrova::browser
