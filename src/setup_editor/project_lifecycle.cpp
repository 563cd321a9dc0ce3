#include "setup_editor/project_lifecycle.hpp"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <system_error>

#include "setup_editor/setup_fields.hpp"
#include "store/config.hpp"
#include "store/project_files.hpp"
#include "store/record_file.hpp"
#include "store/setup_file.hpp"

namespace kestrova::setup_editor {

namespace fs = std::filesystem;

namespace {

constexpr int kNumberRestart = 31999;

bool save_in_place(const store::ProjectState& project, common::Dialogs& dialogs) {
  return store::SaveProject(project, project.project_folder, project.config.Actual_Project_Number,
                            -1, dialogs);
}

std::string with_separator(const fs::path& folder) {
  std::string s = folder.string();
  if (s.empty() || s.back() != '/') s += '/';
  return s;
}

} // namespace

std::string project_box_text(const store::ProjectState& project) {
  return std::to_string(project.config.Actual_Project_Number) + "_" + project.setup.Name;
}

int take_next_project_number(store::ConfigValues& config) {
  if (config.Last_Project > kNumberRestart) config.Last_Project = 0;
  config.Last_Project = std::max(config.Last_Project, 0) + 1;
  return config.Last_Project;
}

bool new_project(store::ProjectState& project, common::Dialogs& dialogs) {
  if (dialogs.message("Do you like to Create a New Project?", common::Buttons::OkCancel) !=
      common::Answer::Ok)
    return false;
  const std::string title =
      "Saving <" + std::to_string(project.config.Last_Project + 1) + "> with a new name";
  return create_project(project, dialogs, title);
}

bool create_project(store::ProjectState& project, common::Dialogs& dialogs,
                    std::string_view title) {
  const std::string name =
      store::record_safe_text(dialogs.input("Enter the New Project Name", title).value_or(""));
  const int number = take_next_project_number(project.config);
  const std::string folder_name = store::ProjectFolderName(number);
  const fs::path folder = project.app_folder / folder_name;
  std::error_code ec;
  if (fs::exists(folder, ec)) {
    if (dialogs.message("The project number to generate (" + folder_name +
                            "already exists. do you like to overwrite?",
                        common::Buttons::YesNo) != common::Answer::Yes)
      return false;
  } else if (!fs::create_directory(folder, ec)) {
    // Without its folder the project cannot exist: the current project stays as it was.
    dialogs.message("Error creating the project folder " + folder.string(), common::Buttons::Ok,
                    common::Icon::Error);
    return false;
  }
  project.project_folder = folder;
  project.config.Actual_Project_Number = number;
  project.setup.Name = name;
  project.setup.Working_folder = with_separator(folder);
  store::SaveProject(project, folder, number, -1, dialogs);
  store::SaveConfig(project, dialogs);
  return true;
}

bool save_project(store::ProjectState& project, common::Dialogs& dialogs) {
  const std::string box = project_box_text(project);
  switch (dialogs.message("Do you like to Update <" + box + "> values?",
                          common::Buttons::YesNoCancel)) {
  case common::Answer::Yes:
    return save_in_place(project, dialogs);
  case common::Answer::No:
    return create_project(project, dialogs, "Saving <" + box + "> with a new name");
  default:
    return false;
  }
}

bool rename_project(store::ProjectState& project, common::Dialogs& dialogs) {
  if (project.config.Actual_Project_Number == 0) {
    dialogs.message("Not possible to rename the Default project. Save it with another Name");
    return false;
  }
  const auto answer = dialogs.input("Rename Project: Entre New Name", {}, project.setup.Name);
  if (!answer || answer->empty()) return false;
  project.setup.Name = store::record_safe_text(*answer);
  return true;
}

bool prepare_load(store::ProjectState& project, common::Dialogs& dialogs) {
  switch (dialogs.message("Do you like to save current values before new load?",
                          common::Buttons::YesNoCancel)) {
  case common::Answer::Yes:
    save_in_place(project, dialogs);
    return true;
  case common::Answer::No:
    return true;
  default:
    return false;
  }
}

std::vector<std::string> list_projects(const fs::path& app_folder, common::Dialogs& dialogs) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(app_folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.size() == 6 && (name[0] == 'p' || name[0] == 'P') &&
        name.find('.') == std::string::npos)
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  std::vector<std::string> entries;
  for (const std::string& name : names) {
    const fs::path folder = app_folder / name;
    if (!fs::is_regular_file(folder / store::kSetupFileName, ec)) continue;
    const std::string summary = store::ProjectSummary(folder, dialogs);
    const std::size_t colon = summary.find(": ");
    entries.push_back(name + "_" +
                      (colon == std::string::npos ? summary : summary.substr(colon + 2)));
  }
  return entries;
}

std::optional<int> project_number_of_entry(std::string_view entry) {
  if (entry.size() < 6) return std::nullopt;
  const std::string_view head = entry.substr(0, 6);
  const bool digit = std::isdigit(static_cast<unsigned char>(head[1])) != 0;
  const double value = typed_number(digit ? head.substr(1) : head.substr(2));
  return static_cast<int>(value);
}

bool load_listed_project(store::ProjectState& project, common::Dialogs& dialogs,
                         std::string_view entry) {
  const auto number = project_number_of_entry(entry);
  if (!number) return false;
  project.project_folder =
      *number < 1 ? project.app_folder : project.app_folder / std::string(entry.substr(0, 6));
  project.config.Actual_Project_Number = *number;
  store::SaveConfig(project, dialogs);
  store::LoadProject(project, *number, dialogs);
  return true;
}

} // namespace kestrova::setup_editor
