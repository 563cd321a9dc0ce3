#include "store/tags.hpp"

#include <algorithm>
#include <system_error>
#include <vector>

#include "store/record_file.hpp"

namespace kestrova::store {

namespace {

namespace fs = std::filesystem;

// The lines of the tag file (without line ends); empty when missing or unreadable.
std::vector<std::string> read_lines(const fs::path& project_folder) {
  std::vector<std::string> lines;
  auto reader = RecordReader::open(project_folder / kTagsFile);
  if (!reader) return lines;
  while (!reader->at_end()) {
    auto line = reader->read_line();
    if (!line) break;
    lines.push_back(std::move(*line));
  }
  return lines;
}

// Index of the line's first space when it is not the line's first character.
std::size_t key_end(std::string_view line) {
  const std::size_t space = line.find(' ');
  return space == 0 ? std::string_view::npos : space;
}

// The key of a line: the text before its first space, or the whole line without one.
std::string_view line_key(std::string_view line) {
  const std::size_t end = key_end(line);
  return end == std::string_view::npos ? line : line.substr(0, end);
}

bool fits_in_a_line(std::string_view text, bool allow_empty) {
  return (allow_empty || !text.empty()) && text.find_first_of(" \r\n") == std::string_view::npos;
}

} // namespace

bool TagsHold(std::string_view tags, std::string_view tag) {
  if (tag.empty()) return false;
  std::size_t at = 0;
  while (at <= tags.size()) {
    const std::size_t end = std::min(tags.find(' ', at), tags.size());
    if (tags.substr(at, end - at) == tag) return true;
    at = end + 1;
  }
  return false;
}

std::string ReadTags(const fs::path& project_folder, std::string_view key) {
  for (const std::string& line : read_lines(project_folder)) {
    const std::size_t end = key_end(line);
    if (end == std::string::npos) continue;
    if (std::string_view(line).substr(0, end) == key) return line.substr(end + 1);
  }
  return {};
}

std::string FindKeysWithTag(const fs::path& project_folder, std::string_view text) {
  std::string keys;
  if (text.empty()) return keys;
  for (const std::string& line : read_lines(project_folder)) {
    const std::size_t end = key_end(line);
    if (end == std::string::npos || !TagsHold(std::string_view(line).substr(end + 1), text))
      continue;
    if (!keys.empty()) keys += ' ';
    keys += line.substr(0, end);
  }
  return keys;
}

bool SetTag(const fs::path& project_folder, std::string_view key, std::string_view tag) {
  if (!fits_in_a_line(key, false) || !fits_in_a_line(tag, true)) return false;
  std::vector<std::string> lines = read_lines(project_folder);
  bool changed = false;
  bool key_found = false;
  for (std::string& line : lines) {
    if (line_key(line) != key) continue;
    key_found = true;
    const std::string_view tags = std::string_view(line).substr(key.size());
    if (tag.empty()) {
      if (!tags.empty()) {
        line.resize(key.size());
        changed = true;
      }
    } else if (!TagsHold(tags, tag)) {
      line += ' ';
      line += tag;
      changed = true;
    }
  }
  if (!key_found && !tag.empty()) {
    lines.push_back(std::string(key) + ' ' + std::string(tag));
    changed = true;
  }
  if (!changed) return false;
  RecordWriter writer;
  for (const std::string& line : lines)
    writer.line(line);
  return writer.save(project_folder / kTagsFile);
}

bool DeleteTags(const fs::path& project_folder) {
  std::error_code ec;
  fs::remove(project_folder / kTagsFile, ec);
  return !ec;
}

} // namespace kestrova::store
