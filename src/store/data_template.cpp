#include "store/data_template.hpp"

#include "store/config.hpp"
#include "store/plate_layout.hpp"
#include "store/record_file.hpp"

namespace kestrova::store {

ConfigValues FreshInstallationConfig() { return ConfigValues{0, 0, 1, 0}; }

std::vector<std::string> WriteDataFolderTemplate(const std::filesystem::path& folder,
                                                 common::Dialogs& dialogs) {
  std::vector<std::string> written;
  ProjectState state;
  state.app_folder = folder;
  state.config = FreshInstallationConfig();
  if (SaveConfig(state, dialogs)) written.emplace_back(kConfigFileName);

  for (const PlateLayout& layout : InstalledPlateLayouts()) {
    const std::string name = std::string(layout.name) + ".dat";
    if (save_file_atomically(folder / name, PlateFormatFileText(layout))) {
      written.push_back(name);
    } else {
      dialogs.message("Cannot write " + (folder / name).string(), common::Buttons::Ok,
                      common::Icon::Error);
    }
  }
  return written;
}

} // namespace kestrova::store
