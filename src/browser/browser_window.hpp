#pragma once

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSplitter>
#include <QTimer>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>
#include <optional>

#include "acquisition/live_display_choice.hpp"
#include "browser/browser_session.hpp"
#include "browser/export_report.hpp"
#include "common/event_pump.hpp"

namespace kestrova::ui {
class PictureBox;
}

namespace kestrova::browser {

// What the experiment browser window uses from the program.
struct BrowserServices {
  common::Dialogs& dialogs;
  common::Shell& shell;
  common::Clock& clock;
  common::EventPump& pump;
};

class AcquisitionLogWindow;
class RegroupEditor;
class TrackRun;

// The browser's view modes besides the plots' own (PlotMode): the group editor, the track view
// and the state a finished Export Data leaves.
inline constexpr int kGroupEditorMode = 3;
inline constexpr int kTrackMode = 6;
inline constexpr int kTrackExportedMode = 99;

// The experiment browser window Frm_offline: the project/acquisition list with its headers,
// search, pop-up menu, titles, tags and protocol comments on the left, and the plot area with
// its controls on the right. The list's rules live in ExperimentBrowser; this window copies
// its lines and texts and hands back the operator's selection.
class FrmOffline final : public QWidget {
public:
  // `show_start_screen` runs when the window is left ("< Back" or closing it).
  FrmOffline(const std::filesystem::path& program_folder, BrowserServices services,
             std::function<void()> show_start_screen, QWidget* parent = nullptr);
  ~FrmOffline() override;

  // Opening the window: controls reset, watched folders read, list built.
  void Form_Load();

  ExperimentBrowser& browser() { return *browser_; }
  // Where "Report" and "Advanced_calculation" open the report window.
  void set_report_opener(std::function<void(const ReportOpening&)> opener) {
    open_report_ = std::move(opener);
  }
  // The view mode: the plots' mode, or the group editor, the track view, a finished Export Data.
  int view_mode() const;

  // Handlers, named after the controls.
  void Listpj_DblClick();
  void Listpj_MouseUp_Right(const QPoint& global);
  void lblproject_Click();
  void lbl_date_Click();
  void cmd_lupa_Click();
  void lst_rename_Click();
  void lst_explorefind_Click();
  void lst_delete_Click();
  void tagjk_Click(int k);
  void lst_plateconfig_Click();
  void txtfolder_Click(int i);
  void Cmd_leegroups_Click();
  void cmdchannels_Click();
  void Cmd_main_Click();
  void Timer_button_Timer();
  // The plot area.
  void Cmd_barplot_Click();
  void Cmd_gridplot_Click();
  void Cmd_lineplot_Click();
  void cmd_minus_Click();
  void cmd_plus_Click();
  void lstgrup_plot_Click();
  void lstgrup_plot_DblClick();
  void List_tags_DblClick();
  void mnrel0_Click();
  void scrollpage_Change();
  void well_Click(); // Combofila, Combocol, txtsub
  void combogrup_Click();
  void lstgrup_DblClick();
  void Cmd_analyze_Click();
  void Picreal_MouseUp_Right(const QPoint& global);
  // The group re-assignment panel (view mode 3), opened by Plate Config and Edit Plate Groups.
  void open_group_editor();
  void combogrup2_Click();
  void combogrup2_DblClick(); // also Enter: rename
  void Combo_sets_Click();
  void cmd_goset_Click();
  void Cmd_clear_Click();
  void cmdcancelgrups_Click();
  // Mouse on Picreal in world coordinates; the group editor acts on them in view mode 3.
  void Picreal_MouseDown(double x, double y, Qt::MouseButton button);
  void Picreal_MouseMove(double x, double y);
  void Picreal_MouseUp(double x, double y, Qt::MouseButton button);
  RegroupEditor* group_editor() const { return regroup_.get(); }
  // The track view (view mode 6).
  void cmd_track_Click();
  void Timer_play_Timer();
  void mn_datatrack_Click(); // Export Data
  TrackRun* track() const { return track_.get(); }
  // Exports: every picture export (BMP, or PNG through the save dialog), the raw samples of one
  // well, the joint report; the report window for the current acquisition.
  void export_picture_Click();
  void asciiexporta_Click();
  void mn_jointexport_Click();
  void Cmd_report_Click();
  // "Acquisition Log": the current acquisition's event log in a window of its own, or a
  // message when the acquisition has none.
  void cmd_log_Click();
  AcquisitionLogWindow* log_window() const { return log_window_; }
  // "Restore Recorded Counts...": after a question, the counts and setup the acquisition
  // recorded live replace those a re-analysis wrote, which are kept as counts.bak and setup.bak.
  void mnrestore_Click();

  PlotView& plots();
  // The pop-up menu a right click on the plot opens in the current view.
  QMenu* plot_menu() const;
  // A page of raw data is being read (the window keeps handling events meanwhile).
  bool loading() const { return loading_; }

  // The list side.
  QMenuBar* menu = nullptr;
  QMenu* mnfile = nullptr;
  QMenu* mnwatching = nullptr;
  std::array<QAction*, kWatchedFolderCount> txtfolder{};
  QAction* mnadvanced = nullptr;
  QAction* mnlog = nullptr;     // File > "Acquisition Log"
  QAction* mnrestore = nullptr; // File > "Restore Recorded Counts..."
  QLabel* lblproject = nullptr;
  QLabel* lbl_date = nullptr;
  QLabel* lbl_orden = nullptr;
  QListWidget* Listpj = nullptr;
  QLineEdit* txt_search = nullptr;
  QPushButton* cmd_lupa = nullptr;
  QLabel* lbl_pj_title = nullptr;
  QLabel* lbl_subpj_title = nullptr;
  QPlainTextEdit* Txt_description = nullptr;
  QLabel* lbl_tagplot = nullptr;
  QListWidget* List_tags = nullptr;
  QPushButton* Cmd_main = nullptr;
  QPushButton* cmdchannels = nullptr;
  QPushButton* Cmd_report = nullptr;
  QPushButton* cmd_log = nullptr; // "Acquisition Log"
  QPushButton* Cmd_leegroups = nullptr;
  QPushButton* cmd_track = nullptr;
  QCheckBox* chk_bmp = nullptr;
  QTimer* Timer_button = nullptr;

  // Pop-up menus (never in the menu bar).
  QMenu* mnrename = nullptr;
  QAction* lst_rename = nullptr;
  QAction* lst_explorefind = nullptr;
  QMenu* mntag_jk = nullptr;
  std::array<QAction*, kTagCommands> tagjk{};
  QMenu* mntag_jr = nullptr;
  std::array<QAction*, 9> tagjr{};
  QAction* lst_plateconfig = nullptr;
  QAction* lst_delete = nullptr;
  QMenu* mnrelativize = nullptr;
  QAction* mnrel0 = nullptr;
  QMenu* mnexporta = nullptr;
  QMenu* mnline = nullptr;
  QMenu* Mnplate = nullptr;
  QMenu* mntrack = nullptr;
  QAction* bmpexporta = nullptr;
  QAction* asciiexporta = nullptr;
  QAction* mn_jointbmp = nullptr;
  QAction* mn_jointexport = nullptr;
  QAction* mn_linebmp = nullptr;
  QAction* mn_platebmp = nullptr;
  QAction* mn_plategroups = nullptr;
  QAction* mn_bmptrack = nullptr;
  QAction* mn_datatrack = nullptr;

  // The plot area: the views are drawn on Picreal by the plot code.
  QGroupBox* plot_area = nullptr;
  ui::PictureBox* Picreal = nullptr;
  QGroupBox* frame_plotbutton = nullptr;
  QPushButton* Cmd_barplot = nullptr;
  QPushButton* Cmd_gridplot = nullptr;
  QPushButton* Cmd_lineplot = nullptr;
  QListWidget* lstgrup_plot = nullptr;
  QGroupBox* Frame_bisize = nullptr;
  QLineEdit* txt_binsize = nullptr;
  QPushButton* cmd_plus = nullptr;
  QPushButton* cmd_minus = nullptr;
  QComboBox* Combofila = nullptr;
  QComboBox* Combocol = nullptr;
  QLineEdit* txtsub = nullptr;
  QLabel* lblcanal = nullptr;
  QComboBox* combogrup = nullptr;
  QListWidget* lstgrup = nullptr;
  QGroupBox* fmranalizar = nullptr;
  QComboBox* cmb_modeanalisis = nullptr;
  QLineEdit* frmtxt_threshold = nullptr;
  QPushButton* Cmd_analyze = nullptr;
  QScrollBar* scrollpage = nullptr;
  QLabel* Label_page = nullptr;
  QLineEdit* Txtpage = nullptr;
  ui::PictureBox* Pic_status = nullptr;
  QPlainTextEdit* txt_pj_details = nullptr;
  QWidget* plot_controls = nullptr; // what the group editor's panel takes the place of

  // The group re-assignment panel.
  QGroupBox* Framegrup = nullptr;
  QComboBox* combogrup2 = nullptr;
  QListWidget* lstgrup2 = nullptr;
  QListWidget* lstchgrup2 = nullptr;
  QComboBox* Combo_sets = nullptr;
  QPushButton* cmd_goset = nullptr;
  QPushButton* Cmd_clear = nullptr;
  QPushButton* cmdcancelgrups = nullptr;
  QTimer* Timer_play = nullptr;

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

private:
  void build();
  QWidget* build_list_side();
  QWidget* build_plot_area();
  void build_menus();
  void connect_controls();
  // Copies the browser's lines and selection into Listpj.
  void show_list();
  // Passes Listpj's selection and current line to the browser.
  void take_selection();
  void show_opened_acquisition();
  void show_page_controls(bool visible);
  void highlight_header(QLabel* header);
  // The controls of the group plots (bar, line, heat map).
  void show_group_controls();
  // Draws the current view on Picreal (white when it has nothing to show).
  void draw_plot();
  // Shows the loading progress and lets the window handle its events.
  void load_progress(double fraction);
  // The page box and scroll bar after a page was read.
  void show_page();
  QWidget* build_group_panel();
  // The group editor's lists and picture after a change.
  void show_group_editor();
  // The controls the group editor disables (and hides) while it is open.
  void enable_outside_editor(bool enabled);
  // A plot command leaves the track view (its timer stops at the next tick) and Export Data.
  void leave_panels();
  // The track button's caption: "Pause" while the animation plays, else "Track".
  void show_track_state();
  // A message when the track has something to tell after writing its table.
  void tell_track_problem();
  // "Restore Recorded Counts..." is offered while an opened acquisition has its recorded counts
  // kept and the group editor is closed.
  void show_restore_entry();

  QSplitter* splitter_ = nullptr;
  bool split_ = false; // the list and plot sides have been given their first widths
  std::unique_ptr<ExperimentBrowser> browser_;
  BrowserServices services_;
  std::function<void()> show_start_screen_;
  bool filling_ = false; // the window itself is changing the list or the comments
  bool loading_ = false; // a page of raw data is being read: plot commands wait
  bool redraw_posted_ = false;
  std::vector<acquisition::WellEntry> wells_; // the items of lstgrup
  std::function<void(const ReportOpening&)> open_report_;
  int panel_mode_ = -1; // kGroupEditorMode, kTrackMode or kTrackExportedMode; -1: the plots'
  std::unique_ptr<RegroupEditor> regroup_;
  std::unique_ptr<TrackRun> track_;
  AcquisitionLogWindow* log_window_ = nullptr; // made at its first use; a child of this window
  std::optional<Qt::MouseButton> pressed_;     // the button held down on Picreal
};

} // namespace kestrova::browser
