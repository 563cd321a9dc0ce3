#include "workbook/folder.hpp"

#include <vector>

namespace kestrova::workbook {
namespace fs = std::filesystem;

Status DeleteFolderRecursive(const fs::path& folder) {
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(folder, ec);
  if (ec || st.type() == fs::file_type::not_found) return std::nullopt;
  if (st.type() != fs::file_type::directory) {
    fs::remove(folder, ec); // a link or a file in place of the folder
    return std::nullopt;
  }
  // Owner write and execute permission are needed to remove the entries of a read-only folder.
  fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
  std::vector<fs::path> subfolders;
  fs::directory_iterator it(folder, ec);
  if (ec) {
    return Error{ec.value(), "DeleteFolderRecursive: " + ec.message() + ": " + folder.string()};
  }
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    std::error_code entry_ec;
    const fs::path path = it->path();
    if (it->is_directory(entry_ec) && !it->is_symlink(entry_ec)) {
      subfolders.push_back(path);
      continue;
    }
    fs::remove(path, entry_ec); // failures are skipped
  }
  if (ec) {
    return Error{ec.value(), "DeleteFolderRecursive: " + ec.message() + ": " + folder.string()};
  }
  for (const fs::path& sub : subfolders) {
    if (Status s = DeleteFolderRecursive(sub)) return s;
  }
  fs::remove(folder, ec);
  return std::nullopt;
}

} // namespace kestrova::workbook
