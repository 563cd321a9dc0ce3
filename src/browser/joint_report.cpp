#include "browser/joint_report.hpp"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "acquisition/activity_files.hpp"
#include "store/channel_tables.hpp"
#include "store/record_file.hpp"
#include "store/tags.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;

namespace {

std::string format_time(common::LocalTime when, const char* pattern) {
  const common::CivilTime t = common::to_civil(when);
  char buf[64];
  std::snprintf(buf, sizeof buf, pattern, t.year, t.month, t.day, t.hour, t.minute, t.second);
  return buf;
}

void append_line(std::string& out, std::string_view text) {
  out += text;
  if (!text.ends_with("\r\n")) out += "\r\n";
}

std::vector<std::string> split_list(std::string_view list) {
  std::vector<std::string> names;
  std::size_t at = 0;
  while (at < list.size()) {
    const std::size_t end = std::min(list.find(' ', at), list.size());
    if (end > at) names.emplace_back(list.substr(at, end - at));
    at = end + 1;
  }
  return names;
}

// The project number of a project folder "p00012"; 0 for another name (only the fallback
// messages of the table readers show it).
int project_number(const fs::path& project_folder) {
  const std::string name = project_folder.filename().string();
  if (name.size() < 2 || (name[0] != 'p' && name[0] != 'P')) return 0;
  int n = 0;
  for (char c : name.substr(1)) {
    if (c < '0' || c > '9' || n > 100000) return 0;
    n = n * 10 + (c - '0');
  }
  return n;
}

} // namespace

std::string joint_report_name(common::LocalTime when) {
  return std::string(kJointReportPrefix) + format_time(when, "%04d%02d%02d%02d%02d%02d") + ".csv";
}

std::string joint_report_text(common::LocalTime when, const KineticText& table) {
  std::string out;
  append_line(out, "Joint Report [" + format_time(when, "%04d-%02d-%02d %02d:%02d.%02d") + "]");
  append_line(out, table.header);
  append_line(out, table.body);
  return out;
}

std::optional<fs::path> write_joint_report(const fs::path& project_folder, const KineticText& table,
                                           common::Clock& clock, common::Dialogs& dialogs) {
  const common::LocalTime when = clock.now();
  const fs::path path = project_folder / joint_report_name(when);
  if (!store::save_file_atomically(path, joint_report_text(when, table))) {
    dialogs.message(std::string(kJointReportNotWritten) + path.string());
    return std::nullopt;
  }
  return path;
}

std::optional<fs::path> export_joint_report(const PlotView& view, const fs::path& project_folder,
                                            common::Clock& clock, common::Dialogs& dialogs,
                                            common::Shell& shell) {
  const std::optional<KineticText> table = view.kinetic_text();
  if (!table) return std::nullopt;
  auto path = write_joint_report(project_folder, *table, clock, dialogs);
  if (path) shell.open(*path);
  return path;
}

std::optional<fs::path> joint_report_of_tag(const fs::path& project_folder, std::string_view tag,
                                            std::string_view separator, common::Clock& clock,
                                            common::Dialogs& dialogs,
                                            const common::Cancellation* cancel) {
  const std::string list =
      tag.empty() ? std::string() : store::FindKeysWithTag(project_folder, tag);
  std::vector<std::string> folders = split_list(list);
  if (folders.empty()) {
    dialogs.message("No acquisition of " + project_folder.string() + " is tagged " +
                    std::string(tag));
    return std::nullopt;
  }
  if (static_cast<int>(folders.size()) >= kMaxKineticAcquisitions) {
    dialogs.message(kTooManyTagged);
    return std::nullopt;
  }
  bool missing = false;
  for (const std::string& f : folders)
    if (!store::FileExists(project_folder / f / acquisition::kCountsFileName)) {
      dialogs.message(std::string(kActivityNotFoundInto) + (project_folder / f).string());
      missing = true;
    }
  if (missing) return std::nullopt;

  // The earliest acquisition stands for the current one: its groups are the table's rows.
  const common::LocalTime now = clock.now();
  const auto earliest = std::min_element(
      folders.begin(), folders.end(), [&](const std::string& a, const std::string& b) {
        return acquisition_date(a, now) < acquisition_date(b, now);
      });
  PlotAcquisition acquisition;
  acquisition.folder = project_folder / *earliest;
  acquisition.project_folder = project_folder;
  acquisition.separator = std::string(separator);
  store::GroupTables groups;
  const int number = project_number(project_folder);
  store::LoadGroupNames(acquisition.folder, number, groups, dialogs);
  store::LoadChannelGroups(acquisition.folder, number, groups, dialogs);
  acquisition.groups = groups.main();

  PlotView view(dialogs, clock, cancel);
  view.open(std::move(acquisition));
  view.show_kinetic(list);
  const std::optional<KineticText> table = view.kinetic_text();
  if (!table || common::cancelled(cancel)) return std::nullopt;
  return write_joint_report(project_folder, *table, clock, dialogs);
}

} // namespace kestrova::browser
