#include "store/project_files.hpp"

#include "store/channel_tables.hpp"
#include "store/plate_format.hpp"

namespace kestrova::store {

SetupLoadResult LoadProject(ProjectState& state, int project_number, common::Dialogs& dialogs) {
  SetupLoadResult result = LoadSetup(state, project_number, dialogs);
  LoadChannelTables(state.project_folder, project_number, state.channels, state.groups, dialogs);
  LoadPlateFormat(state.app_folder, state.setup.Plate_format, state.plate, dialogs);
  return result;
}

bool SaveProject(const ProjectState& state, const std::filesystem::path& folder, int project_number,
                 int station, common::Dialogs& dialogs) {
  const bool setup_ok = write_setup_file(folder, project_number, state.setup);
  const bool tables_ok = SaveChannelTables(folder, state.channels, state.groups, station);
  if (setup_ok && tables_ok) return true;
  dialogs.message("Error saving project files in " + folder.string(), common::Buttons::Ok,
                  common::Icon::Error);
  return false;
}

} // namespace kestrova::store
