#include "store/subproj.hpp"

#include <optional>
#include <vector>

#include "store/record_file.hpp"

namespace kestrova::store {

namespace {

namespace fs = std::filesystem;

// Comments as the text of one String field: no double quotes, every line break as CR LF.
std::string comments_field(std::string_view comments) {
  std::string out = "\"";
  for (std::size_t i = 0; i < comments.size(); ++i) {
    const char c = comments[i];
    if (c == '\r' || c == '\n') {
      if (c == '\r' && i + 1 < comments.size() && comments[i + 1] == '\n') ++i;
      out += "\r\n";
    } else {
      out += c == '"' ? '\'' : c;
    }
  }
  return out + "\"";
}

} // namespace

std::string AcquisitionIndexText(std::string_view title, std::string_view comments) {
  RecordWriter writer;
  writer.record({title});
  writer.line(comments_field(comments));
  return writer.text();
}

bool WriteAcquisitionIndex(const fs::path& acquisition_folder, std::string_view title,
                           std::string_view comments) {
  return save_file_atomically(acquisition_folder / kAcquisitionIndexFile,
                              AcquisitionIndexText(title, comments));
}

std::string ReadAcquisitionTitle(const fs::path& acquisition_folder) {
  auto reader = RecordReader::open(acquisition_folder / kAcquisitionIndexFile);
  if (!reader) return {};
  return reader->read_string().value_or(std::string());
}

std::string ReadAcquisitionComments(const fs::path& acquisition_folder) {
  auto reader = RecordReader::open(acquisition_folder / kAcquisitionIndexFile);
  if (!reader || !reader->read_line()) return {};
  std::string joined;
  bool first = true;
  while (!reader->at_end()) {
    auto line = reader->read_line();
    if (!line) break;
    if (line->empty()) continue;
    std::erase(*line, '"');
    if (!first) joined += "\r\n";
    joined += *line;
    first = false;
  }
  return joined;
}

std::string SetAcquisitionTitle(const fs::path& acquisition_folder, std::string_view title,
                                common::Dialogs& dialogs) {
  const fs::path file = acquisition_folder / kAcquisitionIndexFile;
  if (!FileExists(file)) return std::string(title);
  const bool saved = EditThroughBackup(
      file, dialogs, [&](const std::string& backup) -> std::optional<std::string> {
        RecordReader reader(backup);
        std::string old_title, comments;
        if (!reader.read(old_title, comments)) return std::nullopt;
        return AcquisitionIndexText(title, comments);
      });
  return saved ? std::string(title) : std::string();
}

std::string SetAcquisitionComments(const fs::path& acquisition_folder, std::string_view comments,
                                   common::Dialogs& dialogs) {
  const fs::path file = acquisition_folder / kAcquisitionIndexFile;
  if (!FileExists(file)) return "OK";
  const bool saved = EditThroughBackup(
      file, dialogs, [&](const std::string& backup) -> std::optional<std::string> {
        std::string title;
        if (!backup.empty()) {
          RecordReader reader(backup);
          if (!reader.read(title)) return std::nullopt;
        }
        return AcquisitionIndexText(title, comments);
      });
  return saved ? "OK" : std::string();
}

} // namespace kestrova::store
