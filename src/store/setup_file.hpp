#pragma once

// setup.dat: a project's number, name, plate format, acquisition and detection parameters
// and tool settings, as ten header records each followed by one data record. Its reader
// recovers a damaged file from setup.bak or from the latest acquisition's snapshot, and
// falls back to defaults; its writer keeps setup.bak as the previous version.

#include <filesystem>
#include <string>
#include <string_view>

#include "common/dialogs.hpp"
#include "store/project_state.hpp"
#include "store/record_file.hpp"

namespace kestrova::store {

inline constexpr std::string_view kSetupFileName = "setup.dat";
inline constexpr std::string_view kSetupBackupName = "setup.bak";
inline constexpr std::string_view kRecheckSetupMessage =
    "Warning!! PLEASE Re-Check setup values before RUN";

// How LoadSetup ended.
struct SetupLoadResult {
  // The step the first reading reached (11 for a whole file; see LoadSetup).
  int step = 1;
  bool read_ok = false;   // the file was read without error on the first try
  bool recovered = false; // restored from setup.bak or a snapshot and read again
  bool defaults = false;  // defaults were taken for the groups not read
  // "Warning: Project ID# <> Folder Name [p00" + current project number + "]" when the
  // number in the file differs from n (also shown in a message box); the start screen shows
  // it in LblNews.
  std::string identity_warning;
};

// Fills state.setup from setup.dat in state.project_folder for project number n.
// Steps: 1 before anything is read, 2 after lines 1-2, 3 after lines 3-4, 4 when lines 1-6
// are over (read or not, a file of at most 5 lines reads none of them), 5 after lines 7-8,
// 6..11 after each tool settings line. A file of 6 to 19 lines changes only lines 2, 4 and 6.
// A missing file, a missing record, a field that is not a number, or a project number that
// is not a number (a read error at step 4) stops reading: for n > 0 the file is restored from
// setup.bak or from the setup.dat of PickAcquisitionFolder (when it has over 16 lines), the
// operator is told and it is read once more; otherwise (or when that fails too) the groups of
// fields not yet read take their defaults, with the messages
// "Error [/p<nnnnn>/setup.dat] ID#<step> => Loading ..." and kRecheckSetupMessage.
SetupLoadResult LoadSetup(ProjectState& state, int project_number, common::Dialogs& dialogs);

// The 20 lines of setup.dat for `project_number` and `setup`.
std::string setup_file_text(int project_number, const SetupValues& setup);

// Copies setup.dat over setup.bak in `folder` (a failed copy is ignored), then writes
// setup.dat (see setup_file_text). False when setup.dat could not be written.
bool write_setup_file(const std::filesystem::path& folder, int project_number,
                      const SetupValues& setup);

// The line of a project list: "<Project> p" + five-digit number + ": " + name. A setup.dat
// under 6 lines is first restored from setup.bak (when that has over 5 lines) or, without a
// setup.bak, from the latest acquisition's snapshot, with a message naming the source.
// "<Project> p: SETUP NOT FOUND!!" when nothing is readable, "ERROR on SETUP.DAT FILE!!!" on
// a damaged file.
std::string ProjectSummary(const std::filesystem::path& folder, common::Dialogs& dialogs);

// Changes the project name in the folder's setup.dat through setup.bak, keeping every other
// line as it is. Returns the name as stored (double quotes replaced); the name unchanged when
// there is no setup.dat; "" on failure (after the message "error" when the backup copy fails).
std::string SetSetupName(const std::filesystem::path& folder, std::string_view name,
                         common::Dialogs& dialogs);

} // namespace kestrova::store
