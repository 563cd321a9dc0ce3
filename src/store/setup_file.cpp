#include "store/setup_file.hpp"

#include <array>
#include <vector>

#include <fmt/format.h>

#include "common/number_format.hpp"
#include "store/config.hpp"

namespace kestrova::store {

namespace fs = std::filesystem;

namespace {

constexpr std::array<std::string_view, 10> kSetupHeaders = {
    "Project Setup: <Num_proj>,<Name>,<Working_folder>,<Plate_format>",
    "<Aq_mode>,<Aq_lapse>,<Sample_Rate>,<RT_Buffer>,<DSP_Method>,<DSP_Interval>",
    "<Binary_Acq>,<Threshold_Counter>,<Cal_value>,<Cal_mode>,<Save_counts>,<Save_real>",
    "Tools: <Menu1:Cal>, <Menu2:Light>, <Menu3:Temp>, <Menu4>, <Menu5>, <Menu6>",
    "Mn1: <Organism>, <Enab_Cal>, <Enab_Zero>, <SNRx10>,,",
    "Mn2: <Enable>, <Time_ON>, <v3:Time_OFF>,,,",
    "Mn3: <v1:Enable>, <v2:Tempx10>,,,,",
    "Mn4: ,,,,,",
    "Mn5: ,,,,,",
    "Mn6: ,,,,,",
};

using SixInts = std::array<int, 6>;

// Skips one header line and reads six Integers.
bool read_six(RecordReader& r, SixInts& out) {
  SixInts v{};
  if (!r.read_line() || !r.read(v[0], v[1], v[2], v[3], v[4], v[5])) return false;
  out = v;
  return true;
}

void set_line4(SetupValues& s, const SixInts& v) {
  s.Aq_mode = v[0];
  s.Aq_lapse = v[1];
  s.Sample_Rate = v[2];
  s.RT_Buffer = v[3];
  s.DSP_Method = v[4];
  s.DSP_Interval = v[5];
}

void set_line6(SetupValues& s, const SixInts& v) {
  s.Binary_Acq = v[0];
  s.Threshold_Counter = v[1];
  s.Cal_value = v[2];
  s.Cal_mode = v[3];
  s.Save_counts = v[4];
  s.Save_real = v[5];
}

// A whole number written as text, as the identity check reads it; nullopt otherwise.
std::optional<int> text_to_number(const std::string& text) {
  if (text.find_first_not_of(" \t") == std::string::npos) return std::nullopt;
  RecordReader r(text);
  auto value = r.read_integer();
  if (!value || !r.at_end()) return std::nullopt;
  return value;
}

struct Reading {
  int step = 1;
  bool ok = false;
  std::optional<int> file_number;
};

// Reads setup.dat into `s` group by group; a group is stored only when read whole.
Reading read_setup(const fs::path& file, SetupValues& s) {
  Reading out;
  const int lines = CountLines(file);
  auto reader = RecordReader::open(file);
  if (!reader) return out;
  RecordReader& r = *reader;
  std::string number_text;
  if (lines > 5) {
    std::string num, name, folder, plate;
    if (!r.read_line() || !r.read(num, name, folder, plate)) return out;
    number_text = num;
    s.Name = name;
    s.Working_folder = folder;
    s.Plate_format = plate;
    out.step = 2;
    SixInts v{};
    if (!read_six(r, v)) return out;
    set_line4(s, v);
    out.step = 3;
    if (!read_six(r, v)) return out;
    set_line6(s, v);
  }
  out.step = 4;
  if (lines > 19) {
    SixInts v{};
    if (!read_six(r, v)) return out;
    s.tool_flags = v;
    out.step = 5;
    for (int k = 0; k < kToolCount; ++k) {
      if (!read_six(r, v)) return out;
      s.tool_settings[static_cast<std::size_t>(k)] = v;
      out.step = 6 + k;
    }
  }
  out.file_number = text_to_number(number_text);
  if (!out.file_number) {
    out.step = 4;
    return out;
  }
  out.ok = true;
  return out;
}

// Gives the groups of fields not read before `step` their defaults.
void apply_defaults(SetupValues& s, int step, const fs::path& working_folder) {
  const SetupValues d;
  if (step <= 1) {
    s.Name = d.Name;
    s.Working_folder = working_folder.string() + "/";
    s.Plate_format = d.Plate_format;
  }
  if (step <= 2)
    set_line4(s, {d.Aq_mode, d.Aq_lapse, d.Sample_Rate, d.RT_Buffer, d.DSP_Method, d.DSP_Interval});
  if (step <= 3)
    set_line6(s, {d.Binary_Acq, d.Threshold_Counter, d.Cal_value, d.Cal_mode, d.Save_counts,
                  d.Save_real});
  if (step <= 4) s.tool_flags = d.tool_flags;
  for (int k = 1; k <= kToolCount; ++k) {
    if (step <= k + 4)
      s.tool_settings[static_cast<std::size_t>(k - 1)] =
          d.tool_settings[static_cast<std::size_t>(k - 1)];
  }
}

std::string setup_error_prefix(int n, int step) {
  return fmt::format("Error [/{}/setup.dat] ID#{}", ProjectFolderName(n), step);
}

// Restores setup.dat of project n from setup.bak or from the latest acquisition's snapshot.
// Returns the source name ("" for setup.bak), or nullopt when nothing could be restored.
std::optional<std::string> restore_setup(const fs::path& project_folder, const fs::path& target) {
  if (FileExists(project_folder / kSetupBackupName)) {
    if (CopyWithResult(project_folder / kSetupBackupName, target) == 1) return std::string();
    return std::nullopt;
  }
  const std::string acquisition = PickAcquisitionFolder(project_folder);
  if (acquisition.empty()) return std::nullopt;
  const fs::path snapshot = project_folder / acquisition / kSetupFileName;
  if (FileExists(snapshot) && CountLines(snapshot) > 16 && CopyWithResult(snapshot, target) == 1) {
    return acquisition;
  }
  return std::nullopt;
}

SetupLoadResult load_setup(ProjectState& state, int n, common::Dialogs& dialogs, bool may_recover) {
  SetupLoadResult result;
  const fs::path file = state.project_folder / kSetupFileName;
  const Reading reading = read_setup(file, state.setup);
  result.step = reading.step;
  if (reading.ok) {
    result.read_ok = true;
    if (*reading.file_number != n) {
      result.identity_warning = fmt::format("Warning: Project ID# <> Folder Name [p00{}]",
                                            state.config.Actual_Project_Number);
      dialogs.message(result.identity_warning, common::Buttons::Ok, common::Icon::Warning);
    }
    return result;
  }
  const fs::path folder = project_folder_path(state.app_folder, n);
  if (may_recover && n > 0 && reading.step < 11) {
    state.setup.Working_folder = folder.string() + "/";
    if (const auto source = restore_setup(folder, file)) {
      dialogs.message(fmt::format("{} => Loading values from: {}/{}",
                                  setup_error_prefix(n, reading.step), ProjectFolderName(n),
                                  *source),
                      common::Buttons::Ok, common::Icon::Warning);
      dialogs.message(kRecheckSetupMessage, common::Buttons::Ok, common::Icon::Warning);
      SetupLoadResult again = load_setup(state, n, dialogs, false);
      again.step = reading.step;
      again.read_ok = false;
      again.recovered = !again.defaults;
      return again;
    }
  }
  dialogs.message(setup_error_prefix(n, reading.step) + " => Loading default values...",
                  common::Buttons::Ok, common::Icon::Warning);
  dialogs.message(kRecheckSetupMessage, common::Buttons::Ok, common::Icon::Warning);
  apply_defaults(state.setup, reading.step, folder);
  result.defaults = true;
  return result;
}

} // namespace

SetupLoadResult LoadSetup(ProjectState& state, int project_number, common::Dialogs& dialogs) {
  return load_setup(state, project_number, dialogs, true);
}

std::string setup_file_text(int project_number, const SetupValues& s) {
  RecordWriter w;
  const auto six = [&](std::string_view header, const SixInts& v) {
    w.record({header});
    w.record({v[0], v[1], v[2], v[3], v[4], v[5]});
  };
  w.record({kSetupHeaders[0]});
  w.record({project_number, s.Name, s.Working_folder, s.Plate_format});
  six(kSetupHeaders[1],
      {s.Aq_mode, s.Aq_lapse, s.Sample_Rate, s.RT_Buffer, s.DSP_Method, s.DSP_Interval});
  six(kSetupHeaders[2],
      {s.Binary_Acq, s.Threshold_Counter, s.Cal_value, s.Cal_mode, s.Save_counts, s.Save_real});
  six(kSetupHeaders[3], s.tool_flags);
  for (std::size_t k = 0; k < kToolCount; ++k)
    six(kSetupHeaders[4 + k], s.tool_settings[k]);
  return w.text();
}

bool write_setup_file(const fs::path& folder, int project_number, const SetupValues& setup) {
  return RewriteWithBackup(folder / kSetupFileName, setup_file_text(project_number, setup));
}

namespace {

// Cuts a record line at the commas outside double quotes into at most `limit` pieces (the
// last one keeps the rest of the line).
std::vector<std::string> split_record_line(std::string_view line, std::size_t limit) {
  std::vector<std::string> pieces(1);
  bool quoted = false;
  for (const char c : line) {
    if (c == '"') quoted = !quoted;
    if (c == ',' && !quoted && pieces.size() < limit) {
      pieces.emplace_back();
      continue;
    }
    pieces.back().push_back(c);
  }
  return pieces;
}

constexpr int kMaxSetupLines = 51;
constexpr std::size_t kMaxNamePieces = 11;

} // namespace

std::string ProjectSummary(const fs::path& folder, common::Dialogs& dialogs) {
  const fs::path file = folder / kSetupFileName;
  const fs::path bak = folder / kSetupBackupName;
  int lines = CountLines(file);
  if (lines < 6 && FileExists(bak)) {
    const int bak_lines = CountLines(bak);
    if (bak_lines > 5 && CopyWithResult(bak, file) == 1) {
      lines = bak_lines;
      dialogs.message("Error reading Setup.dat -> recovered from Setup.bak", common::Buttons::Ok,
                      common::Icon::Warning);
    }
  } else if (lines < 6) {
    const std::string acquisition = PickAcquisitionFolder(folder);
    const fs::path snapshot = folder / acquisition / kSetupFileName;
    if (!acquisition.empty()) {
      const int snapshot_lines = CountLines(snapshot);
      if (snapshot_lines > 5 && CopyWithResult(snapshot, file) == 1) {
        lines = snapshot_lines;
        dialogs.message("Error reading Setup.dat -> recovered from " +
                            (folder / acquisition).string(),
                        common::Buttons::Ok, common::Icon::Warning);
      }
    }
  }
  if (lines < 6) return "<Project> p: SETUP NOT FOUND!!";

  const std::string error = "ERROR on SETUP.DAT FILE!!!";
  auto reader = RecordReader::open(file);
  std::string header, number, name, working_folder, plate;
  if (!reader || !reader->read(header, number, name, working_folder, plate)) return error;
  const auto value = text_to_number(number);
  const std::string shown = value ? common::format_display(*value, "00000") : number;
  return "<Project> p" + shown + ": " + name;
}

std::string SetSetupName(const fs::path& folder, std::string_view name, common::Dialogs& dialogs) {
  const fs::path file = folder / kSetupFileName;
  const std::string stored = record_safe_text(name);
  if (!FileExists(file)) return stored;
  const auto rename = [&](const std::string& text) -> std::optional<std::string> {
    RecordReader reader(text);
    RecordWriter out;
    for (int i = 0; i < kMaxSetupLines && !reader.at_end(); ++i) {
      auto line = reader.read_line();
      if (!line) return std::nullopt;
      if (i != 1) {
        out.line(*line);
        continue;
      }
      const auto pieces = split_record_line(*line, kMaxNamePieces);
      std::string rebuilt = pieces[0] + ",\"" + stored + "\"";
      for (std::size_t k = 2; k < pieces.size(); ++k)
        rebuilt += "," + pieces[k];
      out.line(rebuilt);
    }
    return out.text();
  };
  return EditThroughBackup(file, dialogs, rename) ? stored : std::string();
}

} // namespace kestrova::store
