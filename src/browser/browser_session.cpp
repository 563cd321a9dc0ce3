#include "browser/browser_session.hpp"

#include <algorithm>
#include <system_error>

#include "browser/browser_search.hpp"
#include "browser/plot_view.hpp"
#include "common/number_format.hpp"
#include "store/folder_lock.hpp"
#include "store/setup_file.hpp"
#include "store/subproj.hpp"
#include "store/tags.hpp"

namespace kestrova::browser {

namespace fs = std::filesystem;

namespace {

constexpr std::size_t kAcquisitionTitleLength = 50;

// Projects a rebuild would list now: six-character project folders holding setup.dat.
int listable_projects(const fs::path& program_folder) {
  int count = 0;
  for (const std::string& folder : ScanProjectFolders(program_folder))
    if (store::FileExists(program_folder / folder / store::kSetupFileName)) ++count;
  return count;
}

} // namespace

std::string KineticTag(int k) {
  if (k <= 0 || k >= kTagCommands) return {};
  return "[K" + std::to_string(k) + "]";
}

ExperimentBrowser::ExperimentBrowser(fs::path program_folder, common::Dialogs& dialogs,
                                     common::Shell& shell, common::Clock& clock)
    : program_folder_(std::move(program_folder)), dialogs_(dialogs), shell_(shell), clock_(clock),
      plots_(std::make_unique<PlotView>(dialogs, clock)) {}

ExperimentBrowser::~ExperimentBrowser() = default;

void ExperimentBrowser::open() {
  clear_current();
  descending_ = true;
  expanded_.clear();
  remembered_line_ = -1;
  comments_dirty_ = false;
  ReadWatchedFolders(program_folder_, watched_);
  rebuild();
}

void ExperimentBrowser::clear_current() {
  acquisition_folder_.clear();
  project_folder_.clear();
  acquisition_path_.clear();
  summary_.clear();
  tables_.reset();
  opened_ = {};
  selection_is_acquisition_ = false;
  plots_->clear();
}

std::string ExperimentBrowser::tag_acquisitions(std::string_view tag) const {
  if (project_folder_.empty() || tag.empty()) return {};
  return store::FindKeysWithTag(program_folder_ / project_folder_, tag);
}

void ExperimentBrowser::rebuild() {
  projects_ = ScanProjectFolders(program_folder_);
  lines_ = BuildList(program_folder_, projects_, expanded_, descending_, dialogs_);
  selected_.assign(lines_.size(), false);
  current_line_ = -1;
  selection_is_acquisition_ = false;
}

std::vector<std::string> ExperimentBrowser::line_texts() const {
  std::vector<std::string> texts;
  texts.reserve(lines_.size());
  for (const ListLine& line : lines_)
    texts.push_back(line.text);
  return texts;
}

void ExperimentBrowser::set_selection(std::vector<bool> selected, int current_line) {
  selected.resize(lines_.size(), false);
  selected_ = std::move(selected);
  current_line_ = line_exists(current_line) ? current_line : -1;
}

void ExperimentBrowser::select_line(int line) {
  if (!line_exists(line)) return;
  selected_.assign(lines_.size(), false);
  selected_[line] = true;
  current_line_ = line;
}

void ExperimentBrowser::reselect(int line) {
  if (line_exists(line)) select_line(line);
}

fs::path ExperimentBrowser::path_of(const ListLine& line) const {
  fs::path path = program_folder_ / line.project_folder;
  if (!line.is_project) path /= line.acquisition_folder;
  return path;
}

Opened ExperimentBrowser::open_line() {
  if (!line_exists(current_line_)) return Opened::Nothing;
  remembered_line_ = current_line_;
  const ListLine line = lines_[current_line_];
  const Opened opened = line.is_project ? open_project_line(line) : open_acquisition_line(line);
  reselect(remembered_line_);
  return opened;
}

Opened ExperimentBrowser::open_project_line(const ListLine& line) {
  // A list shorter than the projects on disk is out of date: start again from the disk.
  const int projects = listable_projects(program_folder_);
  const auto project_lines =
      std::count_if(lines_.begin(), lines_.end(), [](const ListLine& l) { return l.is_project; });
  if (project_lines < projects) {
    dialogs_.message("ERROR:#pj" + std::to_string(projects) + ">" + std::to_string(lines_.size()));
    reset();
    return Opened::Project;
  }
  if (!expanded_.erase(line.project_folder)) expanded_.insert(line.project_folder);
  rebuild();
  return Opened::Project;
}

void ExperimentBrowser::make_current(const ListLine& line) {
  acquisition_folder_ = line.acquisition_folder;
  project_folder_ = line.project_folder;
  acquisition_path_ = path_of(line);
}

Opened ExperimentBrowser::open_acquisition_line(const ListLine& line) {
  make_current(line);
  selection_is_acquisition_ = true;
  comments_dirty_ = false;
  tables_ = LoadAcquisitionTables(acquisition_path_, program_folder_,
                                  ProjectNumberOfFolder(project_folder_), dialogs_);
  const char separator = common::locale_decimal_separator();
  summary_ = ConfigurationSummary(tables_->setup, separator);

  OpenedAcquisition o;
  const auto project = std::find_if(lines_.begin(), lines_.end(), [&](const ListLine& l) {
    return l.is_project && l.project_folder == line.project_folder;
  });
  if (project != lines_.end())
    o.project_title = project->project_folder + "_" + project->project_name;
  o.acquisition_title =
      line.text.size() > 3 ? line.text.substr(3, kAcquisitionTitleLength) : std::string();
  o.comments = store::ReadAcquisitionComments(acquisition_path_);
  if (o.comments.empty()) o.comments = kNoCommentsText;
  o.tags = BracketedTags(store::ReadTags(program_folder_ / project_folder_, acquisition_folder_));
  o.track_available = TrackAvailable(tables_->setup);
  o.selectors = BuildSelectors(*tables_);
  o.report = ReportPresetOf(tables_->setup, separator);
  opened_ = std::move(o);

  PlotAcquisition plot;
  plot.folder = acquisition_path_;
  plot.project_folder = program_folder_ / project_folder_;
  plot.groups = tables_->groups;
  plot.channels = tables_->channels;
  plot.plate = tables_->plate;
  plot.acquisition_lapse = tables_->setup.Aq_lapse;
  plot.buffer_length = tables_->setup.RT_Buffer;
  plot.configuration_summary = summary_;
  plots_->open(std::move(plot));
  return Opened::Acquisition;
}

void ExperimentBrowser::reset() {
  expanded_.clear();
  rebuild();
  reselect(remembered_line_);
}

void ExperimentBrowser::flip_order() {
  descending_ = !descending_;
  if (!selection_is_acquisition_) rebuild();
}

void ExperimentBrowser::search(std::string_view text) {
  if (text.empty()) {
    reset();
    return;
  }
  rebuild();
  selected_ = SearchSelection(program_folder_, lines_, SplitSearchTerms(text));
  const auto first = std::find(selected_.begin(), selected_.end(), true);
  current_line_ = first == selected_.end() ? -1 : static_cast<int>(first - selected_.begin());
}

void ExperimentBrowser::rename() {
  if (!line_exists(current_line_)) return;
  const int position = current_line_;
  const ListLine line = lines_[position];
  const fs::path path = path_of(line);
  if (line.is_project && !store::FileExists(path / store::kSetupFileName)) return;
  const std::optional<std::string> answer =
      line.is_project ? dialogs_.input("Enter Name of project", "Rename", line.project_name)
                      : dialogs_.input("Enter Name of acquisition", "Rename", line.title);
  if (!answer || answer->empty()) return;
  bool renamed = false;
  if (line.is_project)
    renamed = !store::SetSetupName(path, *answer, dialogs_).empty();
  else if (!store::FileExists(path / store::kAcquisitionIndexFile))
    // An acquisition without its index file gets one, so that the new title is kept.
    renamed = store::WriteAcquisitionIndex(path, *answer, "");
  else
    renamed = !store::SetAcquisitionTitle(path, *answer, dialogs_).empty();
  if (!renamed) dialogs_.message("Error Renaming");
  rebuild();
  reselect(position);
}

void ExperimentBrowser::find_in_folder() {
  if (!line_exists(current_line_)) return;
  const fs::path path = path_of(lines_[current_line_]);
  if (!shell_.reveal(path)) dialogs_.message("The file manager could not show " + path.string());
}

void ExperimentBrowser::archive() {
  if (!line_exists(current_line_)) return;
  const ListLine line = lines_[current_line_];
  if (line.is_project) {
    dialogs_.message("Remove function only available for subprojects");
    return;
  }
  if (dialogs_.message("Remove folder from the list?", common::Buttons::YesNo,
                       common::Icon::Question) != common::Answer::Yes)
    return;
  if (dialogs_.message("Files are going to be archived!", common::Buttons::OkCancel,
                       common::Icon::Warning) != common::Answer::Ok)
    return;
  const fs::path path = path_of(line);
  if (!ArchiveAcquisitionFolder(path, common::to_civil(clock_.now()))) {
    dialogs_.message("Error");
    return;
  }
  if (path == acquisition_path_) clear_current();
  rebuild();
}

void ExperimentBrowser::tag(int k) {
  if (!selection_is_acquisition_) {
    dialogs_.message("Tags Apply only to Subprojects (acquisitions)");
    return;
  }
  const std::string tag = KineticTag(k);
  const int current = current_line_;
  // An acquisition being recorded keeps its tags until it ends; the others are tagged.
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    if (!selected_[i] || lines_[i].is_project) continue;
    if (auto refusal = store::busy_folder_refusal(path_of(lines_[i]), kTagBusy)) {
      dialogs_.message(*refusal, common::Buttons::Ok, common::Icon::Warning);
      continue;
    }
    store::SetTag(program_folder_ / lines_[i].project_folder, lines_[i].acquisition_folder, tag);
    clock_.sleep_ms(10);
  }
  rebuild();
  reselect(current);
}

bool ExperimentBrowser::plate_config() {
  if (!line_exists(current_line_)) return false;
  const ListLine& line = lines_[current_line_];
  if (!selection_is_acquisition_ || line.is_project) {
    dialogs_.message("Only possible for SubProjects");
    return false;
  }
  // The line is opened, so the editor edits the tables of that acquisition (an acquisition
  // opened before would otherwise lend it its groups).
  open_acquisition_line(line);
  return true;
}

Opened ExperimentBrowser::reopen_current() {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const ListLine& line = lines_[i];
    if (line.is_project || line.project_folder != project_folder_ ||
        line.acquisition_folder != acquisition_folder_)
      continue;
    select_line(static_cast<int>(i));
    return open_line();
  }
  return Opened::Nothing;
}

void ExperimentBrowser::comments_left(std::string_view text) {
  if (!comments_dirty_ || acquisition_path_.empty()) return;
  comments_dirty_ = false;
  if (!store::FileExists(acquisition_path_ / store::kAcquisitionIndexFile)) {
    // Without an index file the comments would be dropped: one is written with an empty title.
    if (!store::WriteAcquisitionIndex(acquisition_path_, "", text))
      dialogs_.message("Error writing " +
                       (acquisition_path_ / store::kAcquisitionIndexFile).string());
    return;
  }
  std::error_code ec;
  fs::remove(acquisition_path_ / "subproj.bak", ec);
  store::SetAcquisitionComments(acquisition_path_, text, dialogs_);
}

bool ExperimentBrowser::ask_watched_folder(int i) {
  if (i < 0 || i >= kWatchedFolderCount) return false;
  const std::optional<std::string> answer =
      dialogs_.input("Write folder to watch:", "Folder", watched_[i]);
  std::error_code ec;
  if (!answer || answer->empty() || !fs::is_directory(*answer, ec)) return false;
  watched_[i] = *answer;
  if (!WriteWatchedFolders(program_folder_, watched_))
    dialogs_.message("Error writing " + (program_folder_ / kWatchedFoldersFile).string());
  return true;
}

} // namespace kestrova::browser
