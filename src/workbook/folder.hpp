#pragma once

#include <filesystem>

#include "workbook/error.hpp"

namespace kestrova::workbook {

// Deletes `folder` with everything in it: the files of each level (read-only ones too), then
// its subfolders, then the folder. A failure on one entry is skipped so the rest still goes;
// only a folder that cannot be listed gives an error. Symbolic links are removed, never
// followed, so a link never makes this delete anything outside `folder`.
Status DeleteFolderRecursive(const std::filesystem::path& folder);

} // namespace kestrova::workbook
