#pragma once

// "1 file/well Report": the binned activity of one acquisition as small text files in its
// folder, one per well with date-time stamps, or one per channel with a separate time file.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/cancellation.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"

namespace kestrova::reports {

// One export to make.
struct WellExportRequest {
  std::filesystem::path acquisition_folder; // holds counts.bin, setup.dat and the group files
  std::filesystem::path data_folder;        // holds the plate format files
  int bin = 30;                             // requested bin in minutes (Cmb_binsize)
  bool time_stamps = true; // one file per well with stamps; else per channel plus time.txt
  // Stamps count from here; nullopt takes the acquisition's start from its folder name
  // (yyyymmdd_hhmm), or `now` when the name is not one.
  std::optional<common::CivilTime> start;
  common::CivilTime now;                        // the moment of the export
  const common::Cancellation* cancel = nullptr; // read between blocks; a stop writes nothing
};

// How an export ended.
struct WellExportResult {
  bool ok = false;
  int bin = 0;  // the export bin (shown back in the bin-size list)
  int bins = 0; // lines per well file, values per channel file
  std::vector<std::filesystem::path> files;
};

// The export bin for a recording whose last time is `last_time`: the requested bin, at least 2;
// a recording shorter than the bin (last_time + 1 below it) gets last_time + 1 up to 30 minutes,
// else last_time + 1 rounded down to a multiple of 15.
int adjust_export_bin(int requested_bin, std::int32_t last_time);

// "dd/mm/yyyy hh:mm" of a date-time.
std::string export_stamp(const common::CivilTime& time);

// The start of an acquisition from its folder name "yyyymmdd_hhmm", nullopt for another name.
std::optional<common::CivilTime> acquisition_start(const std::filesystem::path& folder);

// Writes the export. Values and stamps use the same export bin. Wells without any channel get no
// file. "Activity file not Found" without counts.bin; the loading messages of the report on bad
// inputs; "Report Error" when a file cannot be written (files written before stay).
// A stop asked through `request.cancel` ends the export before any file is written.
WellExportResult export_well_series(const WellExportRequest& request, common::Dialogs& dialogs);

} // namespace kestrova::reports
