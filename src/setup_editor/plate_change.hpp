#pragma once

// Choosing another plate format in the setup window (Combowell, run once by its timer).

#include <string_view>

#include "common/dialogs.hpp"
#include "setup_editor/group_editor.hpp"

namespace kestrova::setup_editor {

enum class PlateChange {
  SelectionError, // no plate file of that name: "Selection Error"
  Declined,       // the operator kept the current format
  Loaded,         // the new format is the project's, its groups cleared
};

// Without a plate file of `name` in the data folder: "Selection Error". Otherwise asks "Load
// New Plate configuration?" (Yes / No); Yes clears all groups, shows the format's catalogue
// lines, makes it the project's format and reads its file. A file that cannot be read gets
// the store's fallback (message and built-in map), so the map always matches the name kept.
PlateChange change_plate(GroupEditor& editor, common::Dialogs& dialogs, std::string_view name);

} // namespace kestrova::setup_editor
