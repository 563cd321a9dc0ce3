#pragma once

// The experiment browser without its window: the list and its state, and every command the
// window's list, headers, search box and pop-up menu run. The window copies the list, the
// selection and the texts from here and passes back what the operator selected.

#include <filesystem>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "browser/browser_acquisition.hpp"
#include "browser/browser_files.hpp"
#include "browser/browser_list.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "common/shell.hpp"

namespace kestrova::browser {

inline constexpr std::string_view kNoProjectTitle = "My Project";
inline constexpr std::string_view kNoAcquisitionTitle = "  My Acquisition";
inline constexpr std::string_view kNoCommentsText = "Protocol Comments:";
inline constexpr std::string_view kReportIdleCaption = "[ REPORT ]";
inline constexpr int kTagCommands = 5; // CLEAR, [K1] .. [K4]

// The kinetic-group tag of tag command k: empty for CLEAR (0), "[K1]" .. "[K4]" for 1..4.
std::string KineticTag(int k);
// What a tag of an acquisition being recorded is refused as (see store::busy_folder_refusal).
inline constexpr std::string_view kTagBusy = "Tagging";

// What opening a line did, for the window to show.
enum class Opened { Nothing, Project, Acquisition };

// The opened acquisition as the window shows it.
struct OpenedAcquisition {
  std::string project_title;     // lbl_pj_title: folder_name of the project line
  std::string acquisition_title; // lbl_subpj_title: the line from its 4th character, 50 at most
  std::string comments;          // Txt_description, or kNoCommentsText
  std::vector<std::string> tags; // List_tags: the bracketed tags; empty hides the list
  bool track_available = false;  // cmd_track
  Selectors selectors;
  ReportPreset report;
};

// The plot area (browser/plot_view.hpp; kept out of this header, which Qt windows include).
class PlotView;

class ExperimentBrowser {
public:
  ExperimentBrowser(std::filesystem::path program_folder, common::Dialogs& dialogs,
                    common::Shell& shell, common::Clock& clock);
  ~ExperimentBrowser();

  // Opening the window: descending order, nothing expanded, no current acquisition, the
  // watched folders read from foldview.dat, and the list built.
  void open();
  // Scans the data folder again and rebuilds the list in the current order and expansion.
  // Nothing is selected afterwards and no acquisition is the selection.
  void rebuild();

  const std::vector<ListLine>& lines() const { return lines_; }
  std::vector<std::string> line_texts() const;
  const std::vector<bool>& selected() const { return selected_; }
  // The line the commands act on (the list's current line), -1 for none.
  int current_line() const { return current_line_; }
  // The operator's selection: which lines are selected and which one is current.
  void set_selection(std::vector<bool> selected, int current_line);
  // Selects only `line` (when it exists) and makes it current.
  void select_line(int line);

  // Double-click or Enter on the current line.
  Opened open_line();
  // The "Project" header or an empty search: everything collapsed, remembered line re-selected.
  void reset();
  // The "Date" header: flips the order and rebuilds, except while an acquisition is the
  // selection (the list then keeps its order until the next rebuild).
  void flip_order();
  bool descending() const { return descending_; }
  // "^" for descending, "v" for ascending.
  std::string order_arrow() const { return descending_ ? "^" : "v"; }
  // Rebuilds the list and selects the lines that match every term of `text`; an empty text
  // resets.
  void search(std::string_view text);

  // Pop-up menu commands on the current line (the tag commands act on every selected line).
  void rename();
  void find_in_folder();
  void archive();
  void tag(int k);
  // Plate Config: true when the current acquisition line was opened (as by a double-click) and
  // the group re-assignment panel is to open.
  bool plate_config();
  // Opens the current acquisition again from its files, as a double-click on its line does (the
  // line becomes the only selected one). Nothing when it has no line in the list.
  Opened reopen_current();
  // The pop-up's "Kinetic Group TAG" entry is offered while an acquisition is the selection.
  bool selection_is_acquisition() const { return selection_is_acquisition_; }

  // Protocol comments: a change marks them, leaving the box stores them in the current
  // acquisition when marked. (A click does not unmark them: typed comments are never dropped.)
  void comments_changed() { comments_dirty_ = true; }
  bool comments_dirty() const { return comments_dirty_; }
  void comments_left(std::string_view text);

  const WatchedFolders& watched_folders() const { return watched_; }
  // Asks for watched folder i (0..4); an existing folder becomes its caption and all five are
  // written to foldview.dat. True when the caption changed.
  bool ask_watched_folder(int i);

  // The current acquisition, for the plots, the group editor, tracks and reports.
  const std::string& acquisition_folder() const { return acquisition_folder_; }
  const std::string& project_folder() const { return project_folder_; }
  const std::filesystem::path& acquisition_path() const { return acquisition_path_; }
  const std::string& configuration_summary() const { return summary_; }
  const AcquisitionTables* tables() const { return tables_ ? &*tables_ : nullptr; }
  const OpenedAcquisition& opened() const { return opened_; }
  const std::filesystem::path& program_folder() const { return program_folder_; }
  // Forgets the current acquisition (leaving the window).
  void clear_current();

  // The plot area of the current acquisition: opening an acquisition line opens it on that
  // acquisition with its bar plot; forgetting the acquisition clears it.
  PlotView& plots() { return *plots_; }
  const PlotView& plots() const { return *plots_; }
  // The acquisition list of a kinetic tag ("[K1]") in the current project: the tagged
  // acquisition folders in tags_id.dat order, space-separated; empty when none.
  std::string tag_acquisitions(std::string_view tag) const;

private:
  bool line_exists(int line) const { return line >= 0 && line < static_cast<int>(lines_.size()); }
  void reselect(int line);
  Opened open_project_line(const ListLine& line);
  Opened open_acquisition_line(const ListLine& line);
  void make_current(const ListLine& line);
  std::filesystem::path path_of(const ListLine& line) const;

  std::filesystem::path program_folder_;
  common::Dialogs& dialogs_;
  common::Shell& shell_;
  common::Clock& clock_;

  std::vector<std::string> projects_;
  std::set<std::string> expanded_;
  bool descending_ = true;
  std::vector<ListLine> lines_;
  std::vector<bool> selected_;
  int current_line_ = -1;
  int remembered_line_ = -1;
  bool selection_is_acquisition_ = false;
  bool comments_dirty_ = false;
  WatchedFolders watched_ = DefaultWatchedFolders();

  std::string acquisition_folder_;
  std::string project_folder_;
  std::filesystem::path acquisition_path_;
  std::string summary_;
  std::optional<AcquisitionTables> tables_;
  OpenedAcquisition opened_;
  std::unique_ptr<PlotView> plots_;
};

} // namespace kestrova::browser
