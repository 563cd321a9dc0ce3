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

#include "acquisition/live_display_choice.hpp"
#include "browser/browser_session.hpp"

namespace kestrova::ui {
class PictureBox;
}

namespace kestrova::browser {

// What the experiment browser window uses from the program.
struct BrowserServices {
  common::Dialogs& dialogs;
  common::Shell& shell;
  common::Clock& clock;
};

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

  QSplitter* splitter_ = nullptr;
  bool split_ = false; // the list and plot sides have been given their first widths
  std::unique_ptr<ExperimentBrowser> browser_;
  BrowserServices services_;
  std::function<void()> show_start_screen_;
  bool filling_ = false; // the window itself is changing the list or the comments
  bool loading_ = false; // a page of raw data is being read: plot commands wait
  bool redraw_posted_ = false;
  std::vector<acquisition::WellEntry> wells_; // the items of lstgrup
};

} // namespace kestrova::browser
