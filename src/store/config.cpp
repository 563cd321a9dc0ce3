#include "store/config.hpp"

#include <algorithm>
#include <system_error>
#include <vector>

#include <fmt/format.h>

#include "store/record_file.hpp"

namespace kestrova::store {

ConfigValues corrected(ConfigValues v) {
  if (v.Actual_Project_Number < 0) v.Actual_Project_Number = 0;
  if (v.Last_Project < v.Actual_Project_Number) v.Last_Project = v.Actual_Project_Number;
  v.Serial_COM = std::clamp(v.Serial_COM, 1, kMaxSerialPort);
  v.Restart_Time = 0;
  return v;
}

bool LoadConfig(ProjectState& state, common::Dialogs& dialogs) {
  ConfigValues read;
  bool ok = false;
  if (auto reader = RecordReader::open(state.app_folder / kConfigFileName)) {
    ok = reader->read_line().has_value() &&
         reader->read(read.Actual_Project_Number, read.Last_Project, read.Serial_COM,
                      read.Restart_Time);
  }
  if (!ok) {
    dialogs.message(kConfigDefaultsMessage, common::Buttons::Ok, common::Icon::Warning);
    read = ConfigValues{};
  }
  state.config = corrected(read);
  return ok;
}

bool SaveConfig(const ProjectState& state, common::Dialogs& dialogs) {
  RecordWriter w;
  w.record({kConfigHeader});
  const ConfigValues& c = state.config;
  w.record({c.Actual_Project_Number, c.Last_Project, c.Serial_COM, c.Restart_Time});
  if (!w.save(state.app_folder / kConfigFileName)) {
    dialogs.message(kConfigSaveErrorMessage, common::Buttons::Ok, common::Icon::Error);
    return false;
  }
  return true;
}

bool config_file_exists(const std::filesystem::path& app_folder) {
  return FileExists(app_folder / kConfigFileName);
}

std::string ProjectFolderName(int project_number) { return fmt::format("p{:05d}", project_number); }

std::filesystem::path project_folder_path(const std::filesystem::path& app_folder,
                                          int project_number) {
  if (project_number == 0) return app_folder;
  return app_folder / ProjectFolderName(project_number);
}

void ResolveProjectFolder(ProjectState& state) {
  const int n = state.config.Actual_Project_Number;
  std::error_code ec;
  const auto candidate = state.app_folder / ProjectFolderName(n);
  if (n > 0 && std::filesystem::is_directory(candidate, ec)) {
    state.project_folder = candidate;
  } else {
    state.project_folder = state.app_folder;
    state.config.Actual_Project_Number = 0;
  }
}

long long acquisition_folder_key(std::string_view name) {
  if (name.size() != 13 || name.find('_') != 8) return 0;
  long long key = 0;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (i == 8) continue;
    const char c = name[i];
    if (c < '0' || c > '9') break;
    key = key * 10 + (c - '0');
  }
  return key;
}

std::string PickAcquisitionFolder(const std::filesystem::path& project_folder) {
  std::error_code ec;
  std::filesystem::directory_iterator it(project_folder, ec);
  if (ec) return {};
  std::vector<std::string> names;
  for (const auto& entry : it) {
    const std::string name = entry.path().filename().string();
    if (name.find('.') == std::string::npos) names.push_back(name);
  }
  // Directory order is arbitrary; sort so that "the first of equal keys" is stable.
  std::sort(names.begin(), names.end());
  std::string best;
  long long best_key = 0;
  for (const auto& name : names) {
    const long long key = acquisition_folder_key(name);
    if (key > best_key) {
      best_key = key;
      best = name;
    }
  }
  return best;
}

} // namespace kestrova::store
