#pragma once

// Re-analysis of an acquisition from its real-time files: the per-record activity counts are
// computed again with a detection method, organism and threshold chosen afterwards, kept in
// memory for one report or written back into counts.bin (and the settings into setup.dat), and
// a report is written at the end.

#include <array>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "reports/counts_replace.hpp"
#include "reports/generate_report.hpp"
#include "reports/report_data.hpp"

namespace kestrova::reports {

inline constexpr std::string_view kRealtimeNotFound = "Real Time Data Not Found";

// The entries of the method and organism lists, in index order.
const std::array<std::string_view, 4>& detection_method_names();
const std::array<std::string_view, 4>& organism_names();
// The threshold an organism presets ("1.8", "2.8", "1.8", "0.8") and the method it presets
// (2 for Echinococcus, 3 for Drosophila, nullopt for the others).
std::string organism_threshold_text(int organism);
std::optional<int> organism_method(int organism);
// True when `threshold` lies in the organism's range: 0.5 to 1 for Drosophila, else 1.1 to 6.
bool threshold_in_range(int organism, double threshold);

// What a replace in a folder being recorded is refused as (see store::busy_folder_refusal).
inline constexpr std::string_view kReplaceBusy = "Replacing the counts with a re-analysis";

// One re-analysis to run.
struct ReanalysisRequest {
  GenerateRequest report; // folder, data folder, report settings (settings.Bin is the bin)
  int method = 1;         // 0..3
  int organism = 0;       // 0..3
  std::string threshold_text = "1.8"; // as typed; "," reads as "."
  std::optional<double> hours;        // span analysed; nullopt for the whole recording
  bool replace = false;               // write the counts back (always the whole recording)
  bool export_raw = false;            // append the detection flags to ch<channel>.raw
  int threads = 0;                    // detection threads, 0 for up to two
};

// Progress and the stop request of a run.
struct ReanalysisControl {
  std::function<void(std::string_view status)> show_status; // "Block r/N", "Saving..."
  std::function<bool()> stop_requested; // read after each record, once events have run
  std::function<void(std::int64_t done, std::int64_t total)> progress; // records analysed
};

// How a run ended.
struct ReanalysisResult {
  enum class Outcome { Failed, Stopped, Done };
  Outcome outcome = Outcome::Failed;
  std::int64_t records = 0; // N
  int bin = 0;              // the bin after adjustment to the recording's length
  ActivityRows rows;        // record times (monotonic), recomputed counts, temperatures
  std::string setting_text; // kept for the next report when the counts were not replaced
  bool in_memory = false;   // the counts were not written back
  GenerateResult report;
  bool ok() const { return outcome == Outcome::Done; }
};

// The span in minutes for `hours`: hours x 60 rounded (halves to even), at least 5 minutes.
std::int64_t span_minutes(double hours);

// Runs the re-analysis. Nothing in the folder changes before every record has been analysed:
// a stop (the control's request or `services.cancel`, read after each record), a missing or
// short real-time file (named in the message), real-time files that do not fit the setup's
// buffer length, a damaged counts.bin or a read error ends the run with every file as it was.
// A report made from counts kept in memory can still be stopped, with nothing written. Replacing
// writes counts.bin and setup.dat anew in one commit (see counts_replace.hpp: the files replaced
// kept as counts.bak and setup.bak, the recorded ones as counts.rec and setup.rec at the first
// replace), so a crash or a full disk leaves either both old files or both new ones. The report
// at the end is not normalised to a basal acquisition. Replacing the counts of a folder that an
// acquisition is recording into (store::FolderLock) is refused, before and after the analysis.
// Messages go through `services.dialogs`.
ReanalysisResult run_reanalysis(const ReanalysisRequest& request, ReportServices& services,
                                const ReanalysisControl& control = {});

} // namespace kestrova::reports
