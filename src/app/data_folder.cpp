#include "app/data_folder.hpp"

#include <system_error>

#include "store/project_files.hpp"

namespace kestrova::app {

DataFolderChoice choose_data_folder(const std::optional<std::string>& command_line_dir,
                                    const char* kestrova_home, const char* home) {
  if (command_line_dir && !command_line_dir->empty()) return {fs::path(*command_line_dir), false};
  if (kestrova_home != nullptr && *kestrova_home != '\0') return {fs::path(kestrova_home), false};
  const fs::path base = (home != nullptr && *home != '\0') ? fs::path(home) : fs::path(".");
  return {base / "Kestrova", true};
}

std::optional<fs::path> find_data_template(const fs::path& executable_dir,
                                           const fs::path& build_time_dir) {
  std::error_code ec;
  const fs::path installed = executable_dir / ".." / "share" / "kestrova" / "data";
  if (fs::is_regular_file(installed / "config.dat", ec)) return fs::weakly_canonical(installed, ec);
  if (!build_time_dir.empty() && fs::is_regular_file(build_time_dir / "config.dat", ec))
    return build_time_dir;
  return std::nullopt;
}

DataFolderResult prepare_data_folder(const DataFolderChoice& choice,
                                     const std::optional<fs::path>& template_dir,
                                     common::Dialogs& dialogs) {
  DataFolderResult result;
  std::error_code ec;
  if (!choice.is_default || fs::exists(choice.folder, ec)) return result;
  if (!template_dir) {
    result.error = "No data template found to create " + choice.folder.string();
    return result;
  }
  fs::create_directories(choice.folder, ec);
  if (ec) {
    result.error = "Cannot create " + choice.folder.string() + ": " + ec.message();
    return result;
  }
  fs::copy(*template_dir, choice.folder,
           fs::copy_options::recursive | fs::copy_options::skip_existing, ec);
  if (ec) {
    result.error = "Cannot fill " + choice.folder.string() + ": " + ec.message();
    return result;
  }
  // The default project lives in the data folder itself; give it its files so the first
  // start finds a complete project instead of reporting missing files.
  if (!fs::exists(choice.folder / "setup.dat", ec)) {
    store::ProjectState fresh;
    fresh.app_folder = choice.folder;
    fresh.project_folder = choice.folder;
    fresh.config.Actual_Project_Number = 0;
    if (!store::SaveProject(fresh, choice.folder, 0, 0, dialogs)) {
      result.error = "Cannot write the default project in " + choice.folder.string();
      return result;
    }
  }
  result.created = true;
  return result;
}

std::string data_folder_problem(const DataFolderChoice& choice, const DataFolderResult& prepared) {
  const std::string where = choice.folder.string();
  if (!prepared.error.empty()) return "The data folder cannot be used. " + prepared.error;
  std::error_code ec;
  const fs::file_status status = fs::status(choice.folder, ec);
  if (status.type() == fs::file_type::not_found)
    return "The data folder " + where + " does not exist.";
  if (ec) return "The data folder " + where + " cannot be read: " + ec.message();
  if (status.type() != fs::file_type::directory)
    return "The data folder " + where + " is not a folder.";
  return {};
}

} // namespace kestrova::app
