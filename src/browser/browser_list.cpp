#include "browser/browser_list.hpp"

#include <algorithm>
#include <system_error>

#include "store/record_file.hpp"
#include "store/setup_file.hpp"
#include "store/subproj.hpp"
#include "store/tags.hpp"

namespace kestrova::browser {

namespace {

// The names of the entries of `folder` that pass `keep`, sorted. An unreadable folder gives
// what could be read.
template <typename Keep> std::vector<std::string> sorted_names(const fs::path& folder, Keep keep) {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(folder, ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    std::string name = it->path().filename().string();
    if (keep(*it, name)) names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

bool is_folder(const fs::directory_entry& entry) {
  std::error_code ec;
  return entry.is_directory(ec);
}

bool has_file(const fs::path& file) {
  std::error_code ec;
  return fs::is_regular_file(file, ec);
}

} // namespace

bool MatchesProjectPattern(std::string_view name) {
  return !name.empty() && name.size() <= 10 && name[0] == 'p';
}

int CountProjectMatches(const fs::path& program_folder) {
  return static_cast<int>(
      sorted_names(program_folder, [](const fs::directory_entry&, const std::string& name) {
        return MatchesProjectPattern(name);
      }).size());
}

std::vector<std::string> ScanProjectFolders(const fs::path& program_folder) {
  return sorted_names(program_folder,
                      [](const fs::directory_entry& entry, const std::string& name) {
                        return name.size() == 6 && MatchesProjectPattern(name) && is_folder(entry);
                      });
}

bool IsAcquisitionName(std::string_view name) {
  return name.size() >= 13 && name[8] == '_' && name.find('.') == std::string_view::npos;
}

bool IsArchivedName(std::string_view name) {
  return name.size() > 11 && name.find(kArchivedMark, 11) != std::string_view::npos;
}

std::vector<std::string> ScanAcquisitionNames(const fs::path& project_folder) {
  return sorted_names(project_folder,
                      [](const fs::directory_entry& entry, const std::string& name) {
                        return IsAcquisitionName(name) && is_folder(entry);
                      });
}

std::vector<std::string> ListedAcquisitions(const fs::path& project_folder) {
  std::vector<std::string> names = ScanAcquisitionNames(project_folder);
  std::erase_if(names, [&](const std::string& name) {
    return IsArchivedName(name) || !has_file(project_folder / name / kCountsFile);
  });
  return names;
}

std::string ProjectDate(std::string_view first_acquisition) {
  if (first_acquisition.size() < 8) return std::string(kNoDate);
  return std::string(first_acquisition.substr(0, 4)) + "." +
         std::string(first_acquisition.substr(4, 4));
}

std::string ProjectNameFromLabel(std::string_view label) {
  const std::size_t colon = label.find(": ");
  return std::string(colon == std::string_view::npos ? label : label.substr(colon + 2));
}

std::string ProjectLine(std::string_view date, std::string_view folder, std::string_view name) {
  return "+ " + std::string(date) + "\t" + std::string(folder) + "_" + std::string(name);
}

std::string StationSuffix(std::string_view acquisition_folder) {
  if (acquisition_folder.size() < 3) return {};
  const std::string_view last = acquisition_folder.substr(acquisition_folder.size() - 3);
  return last.find("_s") == std::string_view::npos ? std::string() : std::string(last);
}

std::string AcquisitionLine(std::string_view folder, std::string_view title,
                            const std::optional<std::string>& tags) {
  const auto part = [&](std::size_t from, std::size_t count) {
    return from < folder.size() ? std::string(folder.substr(from, count)) : std::string();
  };
  std::string line = "  > " + part(0, 4) + "." + part(4, 4) + StationSuffix(folder) + "\t ACQ" +
                     part(9, 2) + ":" + part(11, 2) + " \"" + std::string(title) + "\"";
  if (tags) line += "\t\t" + *tags;
  return line;
}

bool IsProjectLine(std::string_view line) { return !line.empty() && line[0] == '+'; }

std::optional<std::string> AcquisitionFolderOfLine(std::string_view line) {
  const std::size_t arrow = line.find('>');
  const std::size_t dot = line.find('.');
  const std::size_t acq = line.find("ACQ");
  if (arrow == std::string_view::npos || dot == std::string_view::npos ||
      acq == std::string_view::npos)
    return std::nullopt;
  const std::size_t colon = line.find(':', acq);
  if (colon == std::string_view::npos || arrow + 6 > line.size() || dot + 5 > line.size() ||
      acq + 5 > line.size() || colon + 3 > line.size())
    return std::nullopt;
  std::string folder =
      std::string(line.substr(arrow + 2, 4)) + std::string(line.substr(dot + 1, 4)) + "_" +
      std::string(line.substr(acq + 3, 2)) + std::string(line.substr(colon + 1, 2));
  if (dot + 8 <= line.size()) {
    const std::string_view suffix = line.substr(dot + 5, 3);
    if (suffix == "_s1" || suffix == "_s2" || suffix == "_s3" || suffix == "_s4") folder += suffix;
  }
  return folder;
}

std::optional<std::string> ProjectFolderOfLine(const std::vector<std::string>& lines,
                                               std::size_t index) {
  if (index >= lines.size()) return std::nullopt;
  for (std::size_t i = index + 1; i-- > 0;) {
    if (!IsProjectLine(lines[i])) continue;
    const std::size_t tab = lines[i].find('\t');
    if (tab == std::string::npos || tab + 7 > lines[i].size()) return std::nullopt;
    return lines[i].substr(tab + 1, 6);
  }
  return std::nullopt;
}

std::optional<std::map<std::string, std::string, std::less<>>>
ReadTagIndex(const fs::path& project_folder) {
  const fs::path file = project_folder / store::kTagsFile;
  if (!has_file(file)) return std::nullopt;
  std::map<std::string, std::string, std::less<>> index;
  auto reader = store::RecordReader::open(file);
  while (reader && !reader->at_end()) {
    auto line = reader->read_line();
    if (!line) break;
    const std::size_t space = line->find(' ');
    if (space == std::string::npos || space == 0) continue;
    index.emplace(line->substr(0, space), line->substr(space + 1));
  }
  return index;
}

std::vector<ListLine> AcquisitionLines(const fs::path& program_folder,
                                       std::string_view project_folder, bool descending,
                                       bool with_tags) {
  const fs::path project = program_folder / project_folder;
  std::vector<std::string> names = ListedAcquisitions(project);
  if (descending) std::reverse(names.begin(), names.end());
  const auto tags = with_tags ? ReadTagIndex(project) : std::nullopt;
  std::vector<ListLine> lines;
  lines.reserve(names.size());
  for (std::string& name : names) {
    ListLine line;
    line.project_folder = std::string(project_folder);
    line.title = store::ReadAcquisitionTitle(project / name);
    std::optional<std::string> tag_text;
    if (tags) {
      const auto found = tags->find(name);
      tag_text = found == tags->end() ? std::string() : found->second;
      line.tags = *tag_text;
    }
    line.text = AcquisitionLine(name, line.title, tag_text);
    line.acquisition_folder = std::move(name);
    lines.push_back(std::move(line));
  }
  return lines;
}

std::vector<ListLine> BuildList(const fs::path& program_folder,
                                const std::vector<std::string>& projects,
                                const std::set<std::string>& expanded, bool descending,
                                common::Dialogs& dialogs) {
  std::vector<ListLine> lines;
  const std::size_t n = projects.size();
  for (std::size_t k = 0; k < n; ++k) {
    const std::string& folder = projects[descending ? n - 1 - k : k];
    const fs::path project = program_folder / folder;
    if (!has_file(project / store::kSetupFileName)) continue;
    const std::vector<std::string> names = ScanAcquisitionNames(project);
    ListLine line;
    line.is_project = true;
    line.project_folder = folder;
    line.project_name = ProjectNameFromLabel(store::ProjectSummary(project, dialogs));
    line.text = ProjectLine(ProjectDate(names.empty() ? std::string() : names.front()), folder,
                            line.project_name);
    lines.push_back(std::move(line));
    if (expanded.contains(folder)) {
      std::vector<ListLine> acquisitions = AcquisitionLines(program_folder, folder, descending);
      std::move(acquisitions.begin(), acquisitions.end(), std::back_inserter(lines));
    }
  }
  return lines;
}

} // namespace kestrova::browser
