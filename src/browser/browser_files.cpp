#include "browser/browser_files.hpp"

#include <cstdio>
#include <system_error>

#include "store/record_file.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;

WatchedFolders DefaultWatchedFolders() {
  WatchedFolders folders;
  for (int i = 0; i < kWatchedFolderCount; ++i)
    folders[i] = "_folder" + std::to_string(i + 1);
  return folders;
}

void ReadWatchedFolders(const fs::path& program_folder, WatchedFolders& folders) {
  const fs::path file = program_folder / kWatchedFoldersFile;
  if (!store::FileExists(file)) return;
  auto reader = store::RecordReader::open(file);
  for (int i = 0; reader && i < kWatchedFolderCount && !reader->at_end(); ++i) {
    auto field = reader->read_string();
    if (!field) break;
    std::error_code ec;
    if (!field->empty() && fs::is_directory(*field, ec)) folders[i] = *field;
  }
}

bool WriteWatchedFolders(const fs::path& program_folder, const WatchedFolders& folders) {
  store::RecordWriter writer;
  for (const std::string& caption : folders) {
    if (caption.find(',') != std::string::npos || caption.starts_with('"'))
      writer.record({caption});
    else
      writer.line(caption);
  }
  return writer.save(program_folder / kWatchedFoldersFile);
}

std::string ArchiveSuffix(const common::CivilTime& now) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%04d%02d%02d%02d%02d", now.year, now.month, now.day, now.hour,
                now.second);
  return std::string("removed") + stamp;
}

bool ArchiveAcquisitionFolder(const fs::path& acquisition_folder, const common::CivilTime& now) {
  std::error_code ec;
  if (!fs::is_directory(acquisition_folder, ec)) return false;
  fs::path target = acquisition_folder;
  target += ArchiveSuffix(now);
  if (fs::exists(target, ec) || ec) return false;
  fs::rename(acquisition_folder, target, ec);
  return !ec;
}

} // namespace kestrova::browser
