#include "setup_editor/plate_change.hpp"

#include "store/plate_format.hpp"
#include "store/plate_layout.hpp"

namespace kestrova::setup_editor {

PlateChange change_plate(GroupEditor& editor, common::Dialogs& dialogs, std::string_view name) {
  store::ProjectState& project = editor.project();
  if (!store::FindPlateFormatFile(project.app_folder, name)) {
    dialogs.message("Selection Error");
    return PlateChange::SelectionError;
  }
  if (dialogs.message("Load New Plate configuration?", common::Buttons::YesNo) !=
      common::Answer::Yes)
    return PlateChange::Declined;
  editor.clear_all();
  if (const auto entry = store::DescribePlateFormat(name)) {
    std::string text = std::string(entry->description) + "\n" + std::string(entry->adapter);
    if (!entry->note.empty()) text += "\n" + std::string(entry->note);
    dialogs.message(text, common::Buttons::Ok, common::Icon::Information);
  }
  project.setup.Plate_format = std::string(name);
  if (!store::ReadPlateFormat(project.app_folder, name, project.plate).ok)
    store::LoadPlateFormat(project.app_folder, project.setup.Plate_format, project.plate, dialogs);
  return PlateChange::Loaded;
}

} // namespace kestrova::setup_editor
