#include "browser/export_report.hpp"

#include <system_error>

#include "acquisition/activity_files.hpp"
#include "store/record_file.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;

namespace {

// `count` characters after the first `marker` of `line`; nothing when the line is shorter.
std::optional<std::string_view> after(std::string_view line, std::string_view marker,
                                      std::size_t count) {
  const std::size_t at = line.find(marker);
  if (at == std::string_view::npos || at + marker.size() + count > line.size()) return std::nullopt;
  return line.substr(at + marker.size(), count);
}

bool is_project_line(std::string_view line) { return line.starts_with("+"); }

} // namespace

std::optional<std::string> basal_name_of_line(std::string_view line) {
  const auto year = after(line, "> ", 4);
  const auto date = after(line, ".", 4);
  const auto hour = after(line, "ACQ", 2);
  const auto minute = after(line, ":", 2);
  if (!year || !date || !hour || !minute) return std::nullopt;
  return std::string(*year) + std::string(*date) + "_" + std::string(*hour) + std::string(*minute);
}

std::optional<ReportOpening> report_opening(const fs::path& folder, std::string_view title,
                                            std::span<const std::string> lines, int selected,
                                            common::Dialogs& dialogs) {
  if (folder.empty()) return std::nullopt;
  if (!store::FileExists(folder / acquisition::kCountsFileName)) {
    dialogs.message(kActivityNotFound);
    return std::nullopt;
  }
  ReportOpening opening;
  opening.folder = folder;
  opening.caption = std::string(title);
  opening.basal = {"-"};
  const int count = static_cast<int>(lines.size());
  if (selected >= 0 && selected < count) {
    int project = selected;
    while (project >= 0 && !is_project_line(lines[static_cast<std::size_t>(project)]))
      --project;
    for (int i = project + 1; i < count && !is_project_line(lines[static_cast<std::size_t>(i)]);
         ++i)
      if (auto name = basal_name_of_line(lines[static_cast<std::size_t>(i)]))
        opening.basal.push_back(std::move(*name));
  }
  std::error_code ec;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.starts_with("histo") && name.ends_with(".bin")) {
      opening.histogram = true;
      break;
    }
  }
  return opening;
}

} // namespace kestrova::browser
