#pragma once

// What the browser shows for "Acquisition Log": the event log an acquisition kept in its
// folder, or why there is none.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace kestrova::browser {

inline constexpr std::string_view kNoAcquisitionLog = "No log for this acquisition";

struct AcquisitionLogView {
  std::string title;               // "Acquisition log: p00003/20240315_0930"
  std::optional<std::string> text; // the whole log; nothing when there is none
  std::string missing;             // the message when there is none
};

// The log of `acquisition_folder`. Folders recorded before acquisitions kept a log have none;
// so has a folder whose log cannot be read (the message then names the file).
AcquisitionLogView acquisition_log_view(const std::filesystem::path& acquisition_folder);

} // namespace kestrova::browser
