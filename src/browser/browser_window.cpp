// The plot code first: Qt's "slots" macro would clash with a member of that name.
#include "browser/plot_view.hpp"

#include "browser/browser_window.hpp"

#include <QCloseEvent>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QSplitter>
#include <QTextDocument>
#include <QVBoxLayout>

#include "browser/plot_draw.hpp"
#include "browser/regroup_editor.hpp"
#include "browser/track_run.hpp"
#include "ui/named_widget.hpp"
#include "ui/picture_box.hpp"
#include "ui/qt_text.hpp"

namespace kestrova::browser {

namespace {

constexpr const char* kHeaderBlue = "QLabel { color: white; background: #1f4e9c; padding: 2px; }";
constexpr const char* kHeaderGreen = "QLabel { color: white; background: #2e8b3a; padding: 2px; }";
constexpr int kHeaderTimerMs = 600;

using ui::qs;
using ui::str;

QPushButton* button(QWidget* parent, const char* name, const char* caption) {
  return ui::named_button(parent, name, caption);
}
using ui::named;

using ui::fill_items;

} // namespace

FrmOffline::FrmOffline(const std::filesystem::path& program_folder, BrowserServices services,
                       std::function<void()> show_start_screen, QWidget* parent)
    : QWidget(parent), browser_(std::make_unique<ExperimentBrowser>(
                           program_folder, services.dialogs, services.shell, services.clock)),
      services_(services), show_start_screen_(std::move(show_start_screen)) {
  setObjectName("Frm_offline");
  setWindowTitle("<Kestrova> Acquisition Software  --------> Report analysis");
  build();
  connect_controls();
  resize(1000, 700);
}

FrmOffline::~FrmOffline() = default;

void FrmOffline::build() {
  build_menus();
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(4, 4, 4, 4);
  layout->setMenuBar(menu);
  splitter_ = new QSplitter(Qt::Horizontal, this);
  splitter_->addWidget(build_list_side());
  splitter_->addWidget(build_plot_area());
  splitter_->setStretchFactor(0, 2);
  splitter_->setStretchFactor(1, 3);
  layout->addWidget(splitter_);
}

void FrmOffline::build_menus() {
  menu = new QMenuBar(this);
  mnfile = menu->addMenu("File");
  mnwatching = mnfile->addMenu("Watching Folders");
  mnwatching->setObjectName("mnwatching");
  const WatchedFolders defaults = DefaultWatchedFolders();
  for (int i = 0; i < kWatchedFolderCount; ++i) {
    txtfolder[i] = mnwatching->addAction(qs(defaults[i]));
    txtfolder[i]->setObjectName(QString("txtfolder_%1").arg(i));
  }
  mnadvanced = mnfile->addAction("Advanced_calculation");
  mnlog = named(mnfile->addAction("Acquisition Log"), "mnlog");
  mnrestore = named(mnfile->addAction("Restore Recorded Counts..."), "mnrestore");
  mnadvanced->setObjectName("mnadvanced");

  // Pop-up menus only: parented to the window, never added to the menu bar.
  mnrename = named(new QMenu(this), "mnrename");
  lst_rename = mnrename->addAction("Rename");
  lst_rename->setObjectName("lst_rename");
  lst_explorefind = mnrename->addAction("Find in Folder");
  lst_explorefind->setObjectName("lst_explorefind");
  mntag_jk = named(mnrename->addMenu("Kinetic Group TAG"), "mntag_jk");
  const char* tag_captions[kTagCommands] = {"CLEAR", "[K1]", "[K2]", "[K3]", "[K4]"};
  for (int k = 0; k < kTagCommands; ++k) {
    tagjk[k] = mntag_jk->addAction(tag_captions[k]);
    tagjk[k]->setObjectName(QString("tagjk_%1").arg(k));
  }
  mntag_jr = named(mnrename->addMenu("Tag as  Replicate [Experiment Replication]"), "mntag_jr");
  for (int k = 0; k < 9; ++k) {
    tagjr[k] = mntag_jr->addAction(QString("[R%1]").arg(k + 1));
    tagjr[k]->setObjectName(QString("tagjr_%1").arg(k));
  }
  lst_plateconfig = mnrename->addAction("Plate Config");
  lst_plateconfig->setObjectName("lst_plateconfig");
  lst_delete = mnrename->addAction("Delete");
  lst_delete->setObjectName("lst_delete");

  mnexporta = named(new QMenu(this), "mnexporta");
  bmpexporta = named(mnexporta->addAction("Export to BMP..."), "bmpexporta");
  asciiexporta = named(mnexporta->addAction("Export to ASCII..."), "asciiexporta");
  mnrelativize = named(new QMenu(this), "mnrelativize");
  mnrel0 = mnrelativize->addAction("Relativize to Time0");
  mnrel0->setObjectName("mnrel0");
  mnrel0->setCheckable(true);
  mn_jointbmp = named(mnrelativize->addAction("Export .BMP"), "mn_jointbmp");
  mn_jointexport = named(mnrelativize->addAction("Export Data"), "mn_jointexport");
  mnline = named(new QMenu(this), "mnline");
  mn_linebmp = named(mnline->addAction("Export .BMP"), "mn_linebmp");
  Mnplate = named(new QMenu(this), "Mnplate");
  mn_platebmp = named(Mnplate->addAction("Export .BMP"), "mn_platebmp");
  mn_plategroups = named(Mnplate->addAction("Edit Plate Groups"), "mn_plategroups");
  mntrack = named(new QMenu(this), "mntrack");
  mn_bmptrack = named(mntrack->addAction("Export .BMP"), "mn_bmptrack");
  mn_datatrack = named(mntrack->addAction("Export Data"), "mn_datatrack");
}

QWidget* FrmOffline::build_list_side() {
  auto* side = named(new QWidget(this), "list_side");
  auto* v = new QVBoxLayout(side);
  v->setContentsMargins(0, 0, 0, 0);

  auto* headers = new QHBoxLayout;
  lblproject = named(new QLabel("Project", side), "lblproject");
  lbl_date = named(new QLabel("Date", side), "lbl_date");
  lbl_orden = named(new QLabel("^", side), "lbl_orden");
  for (QLabel* header : {lblproject, lbl_date}) {
    header->setStyleSheet(kHeaderBlue);
    header->setCursor(Qt::PointingHandCursor);
    header->setAttribute(Qt::WA_Hover);
    header->installEventFilter(this);
  }
  lbl_orden->setFixedWidth(14);
  headers->addWidget(lbl_date);
  headers->addWidget(lbl_orden);
  headers->addWidget(lblproject, 1);
  v->addLayout(headers);

  Listpj = named(new QListWidget(side), "Listpj");
  Listpj->setSelectionMode(QAbstractItemView::ExtendedSelection);
  Listpj->setContextMenuPolicy(Qt::CustomContextMenu);
  Listpj->installEventFilter(this);
  QFont mono("Monospace");
  mono.setStyleHint(QFont::TypeWriter);
  Listpj->setFont(mono);
  v->addWidget(Listpj, 3);

  auto* search = new QHBoxLayout;
  txt_search = named(new QLineEdit(side), "txt_search");
  txt_search->setPlaceholderText("search text, \"quoted words\"");
  cmd_lupa = button(side, "cmd_lupa", "Search");
  search->addWidget(txt_search, 1);
  search->addWidget(cmd_lupa);
  v->addLayout(search);

  lbl_pj_title = named(new QLabel(qs(kNoProjectTitle), side), "lbl_pj_title");
  lbl_subpj_title = named(new QLabel(qs(kNoAcquisitionTitle), side), "lbl_subpj_title");
  QFont bold = lbl_pj_title->font();
  bold.setBold(true);
  lbl_pj_title->setFont(bold);
  // Long titles are cut by the window rather than widening it.
  for (QLabel* title : {lbl_pj_title, lbl_subpj_title})
    title->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  v->addWidget(lbl_pj_title);
  v->addWidget(lbl_subpj_title);

  auto* tags = new QHBoxLayout;
  lbl_tagplot = named(new QLabel("Tags:", side), "lbl_tagplot");
  List_tags = named(new QListWidget(side), "List_tags");
  List_tags->setFlow(QListView::LeftToRight);
  List_tags->setMaximumHeight(32);
  tags->addWidget(lbl_tagplot);
  tags->addWidget(List_tags, 1);
  v->addLayout(tags);

  Txt_description = named(new QPlainTextEdit(side), "Txt_description");
  Txt_description->installEventFilter(this);
  v->addWidget(Txt_description, 1);

  auto* commands = new QGridLayout;
  Cmd_leegroups = button(side, "Cmd_leegroups", "[Group Activity]");
  cmdchannels = button(side, "cmdchannels", "Channel Signal");
  Cmd_report = button(side, "Cmd_report", "[ REPORT ]");
  cmd_track = button(side, "cmd_track", "Track");
  cmd_track->setToolTip("Single Animal Path Tracking");
  chk_bmp = named(new QCheckBox("->.bmp", side), "chk_bmp");
  chk_bmp->setToolTip("Export .bmp track files");
  cmd_log = button(side, "cmd_log", "Acquisition Log");
  cmd_log->setToolTip("Events of the acquisition: start, pauses, link and disk problems, end");
  Cmd_main = button(side, "Cmd_main", "< Back");
  commands->addWidget(Cmd_leegroups, 0, 0);
  commands->addWidget(cmdchannels, 0, 1);
  commands->addWidget(Cmd_report, 1, 0);
  commands->addWidget(cmd_track, 1, 1);
  commands->addWidget(cmd_log, 2, 0);
  commands->addWidget(chk_bmp, 2, 1);
  commands->addWidget(Cmd_main, 3, 0);
  v->addLayout(commands);

  Timer_button = new QTimer(this);
  Timer_button->setObjectName("Timer_button");
  Timer_button->setSingleShot(true);
  Timer_button->setInterval(kHeaderTimerMs);
  return side;
}

QWidget* FrmOffline::build_plot_area() {
  plot_area = named(new QGroupBox(this), "plot_area");
  auto* v = new QVBoxLayout(plot_area);

  Picreal = named(new ui::PictureBox(plot_area), "Picreal");
  Picreal->setMinimumSize(320, 240);
  Picreal->setContextMenuPolicy(Qt::CustomContextMenu);
  v->addWidget(Picreal, 1);

  auto* page = new QHBoxLayout;
  Label_page = named(new QLabel("Page:", plot_area), "Label_page");
  Txtpage = named(new QLineEdit(plot_area), "Txtpage");
  Txtpage->setMaximumWidth(70);
  scrollpage = named(new QScrollBar(Qt::Horizontal, plot_area), "scrollpage");
  Pic_status = named(new ui::PictureBox(plot_area), "Pic_status");
  Pic_status->setFixedHeight(12);
  page->addWidget(Label_page);
  page->addWidget(Txtpage);
  page->addWidget(scrollpage, 1);
  page->addWidget(Pic_status, 1);
  v->addLayout(page);

  auto* below = new QHBoxLayout;
  auto* groups = new QVBoxLayout;
  frame_plotbutton = named(new QGroupBox(plot_area), "frame_plotbutton");
  auto* plots = new QVBoxLayout(frame_plotbutton);
  Cmd_barplot = button(frame_plotbutton, "Cmd_barplot", "Bar Plot");
  Cmd_gridplot = button(frame_plotbutton, "Cmd_gridplot", "Heatmap PLOT");
  Cmd_lineplot = button(frame_plotbutton, "Cmd_lineplot", "Line Plot");
  plots->addWidget(Cmd_barplot);
  plots->addWidget(Cmd_gridplot);
  plots->addWidget(Cmd_lineplot);
  lstgrup_plot = named(new QListWidget(plot_area), "lstgrup_plot");
  lstgrup_plot->setMinimumWidth(
      QFontMetrics(lstgrup_plot->font()).horizontalAdvance("000_Group00") + 32);
  auto* plot_choice = new QHBoxLayout;
  plot_choice->addWidget(frame_plotbutton);
  plot_choice->addWidget(lstgrup_plot, 1);
  groups->addLayout(plot_choice, 1);
  Frame_bisize = named(new QGroupBox(plot_area), "Frame_bisize");
  auto* bin = new QHBoxLayout(Frame_bisize);
  bin->addWidget(new QLabel("Bin_size:", Frame_bisize));
  txt_binsize = named(new QLineEdit("5", Frame_bisize), "txt_binsize");
  txt_binsize->setMaximumWidth(50);
  cmd_minus = button(Frame_bisize, "cmd_minus", "-");
  cmd_plus = button(Frame_bisize, "cmd_plus", "+");
  for (QPushButton* b : {cmd_minus, cmd_plus})
    b->setMaximumWidth(32);
  bin->addWidget(txt_binsize);
  bin->addWidget(cmd_minus);
  bin->addWidget(cmd_plus);
  groups->addWidget(Frame_bisize);
  below->addLayout(groups, 1);

  auto* channel = new QVBoxLayout;
  auto* well = new QHBoxLayout;
  Combofila = named(new QComboBox(plot_area), "Combofila");
  Combocol = named(new QComboBox(plot_area), "Combocol");
  for (QComboBox* box : {Combofila, Combocol}) {
    box->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    box->setMinimumContentsLength(3);
  }
  txtsub = named(new QLineEdit("0", plot_area), "txtsub");
  txtsub->setMaximumWidth(30);
  lblcanal = named(new QLabel("CH:", plot_area), "lblcanal");
  well->addWidget(Combofila);
  well->addWidget(Combocol);
  well->addWidget(txtsub);
  well->addWidget(lblcanal, 1);
  channel->addLayout(well);
  combogrup = named(new QComboBox(plot_area), "combogrup");
  lstgrup = named(new QListWidget(plot_area), "lstgrup");
  channel->addWidget(combogrup);
  channel->addWidget(lstgrup, 1);
  fmranalizar = named(new QGroupBox(plot_area), "fmranalizar");
  auto* analysis = new QGridLayout(fmranalizar);
  cmb_modeanalisis = named(new QComboBox(fmranalizar), "cmb_modeanalisis");
  frmtxt_threshold = named(new QLineEdit(fmranalizar), "frmtxt_threshold");
  frmtxt_threshold->setMaximumWidth(50);
  Cmd_analyze = button(fmranalizar, "Cmd_analyze", "Analyze");
  analysis->addWidget(cmb_modeanalisis, 0, 0, 1, 2);
  analysis->addWidget(new QLabel("Threshold:", fmranalizar), 1, 0);
  analysis->addWidget(frmtxt_threshold, 1, 1);
  analysis->addWidget(new QLabel("SNR", fmranalizar), 1, 2);
  analysis->addWidget(Cmd_analyze, 0, 2);
  channel->addWidget(fmranalizar);
  below->addLayout(channel, 1);

  txt_pj_details = named(new QPlainTextEdit(plot_area), "txt_pj_details");
  txt_pj_details->setReadOnly(true);
  txt_pj_details->setLineWrapMode(QPlainTextEdit::NoWrap);
  // The longest summary line, the box's frame and its document margins.
  txt_pj_details->setMinimumWidth(
      QFontMetrics(txt_pj_details->font()).horizontalAdvance("Microplate format: [w96f]") +
      2 * txt_pj_details->frameWidth() +
      2 * static_cast<int>(txt_pj_details->document()->documentMargin()) + 8);
  below->addWidget(txt_pj_details, 1);
  plot_controls = named(new QWidget(plot_area), "plot_controls");
  below->setContentsMargins(0, 0, 0, 0);
  plot_controls->setLayout(below);
  v->addWidget(plot_controls);
  v->addWidget(build_group_panel());

  Timer_play = new QTimer(this);
  Timer_play->setObjectName("Timer_play");
  Timer_play->setSingleShot(true);
  return plot_area;
}

void FrmOffline::connect_controls() {
  connect(Listpj, &QListWidget::itemDoubleClicked, this, [this] { Listpj_DblClick(); });
  connect(Listpj, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { Listpj_MouseUp_Right(Listpj->viewport()->mapToGlobal(at)); });
  connect(Listpj, &QListWidget::itemSelectionChanged, this, [this] {
    if (!filling_) take_selection();
  });
  connect(cmd_lupa, &QPushButton::clicked, this, &FrmOffline::cmd_lupa_Click);
  connect(txt_search, &QLineEdit::returnPressed, this, &FrmOffline::cmd_lupa_Click);
  connect(lst_rename, &QAction::triggered, this, &FrmOffline::lst_rename_Click);
  connect(lst_explorefind, &QAction::triggered, this, &FrmOffline::lst_explorefind_Click);
  connect(lst_delete, &QAction::triggered, this, &FrmOffline::lst_delete_Click);
  connect(lst_plateconfig, &QAction::triggered, this, &FrmOffline::lst_plateconfig_Click);
  for (int k = 0; k < kTagCommands; ++k)
    connect(tagjk[k], &QAction::triggered, this, [this, k] { tagjk_Click(k); });
  for (int i = 0; i < kWatchedFolderCount; ++i)
    connect(txtfolder[i], &QAction::triggered, this, [this, i] { txtfolder_Click(i); });
  connect(Cmd_leegroups, &QPushButton::clicked, this, &FrmOffline::Cmd_leegroups_Click);
  connect(cmdchannels, &QPushButton::clicked, this, &FrmOffline::cmdchannels_Click);
  connect(Cmd_main, &QPushButton::clicked, this, &FrmOffline::Cmd_main_Click);
  connect(Timer_button, &QTimer::timeout, this, &FrmOffline::Timer_button_Timer);
  connect(Txt_description, &QPlainTextEdit::textChanged, this, [this] {
    if (!filling_) browser_->comments_changed();
  });

  connect(Cmd_barplot, &QPushButton::clicked, this, &FrmOffline::Cmd_barplot_Click);
  connect(Cmd_gridplot, &QPushButton::clicked, this, &FrmOffline::Cmd_gridplot_Click);
  connect(Cmd_lineplot, &QPushButton::clicked, this, &FrmOffline::Cmd_lineplot_Click);
  connect(cmd_minus, &QPushButton::clicked, this, &FrmOffline::cmd_minus_Click);
  connect(cmd_plus, &QPushButton::clicked, this, &FrmOffline::cmd_plus_Click);
  connect(lstgrup_plot, &QListWidget::currentRowChanged, this, [this] {
    if (!filling_) lstgrup_plot_Click();
  });
  connect(lstgrup_plot, &QListWidget::itemDoubleClicked, this, &FrmOffline::lstgrup_plot_DblClick);
  connect(List_tags, &QListWidget::itemDoubleClicked, this, &FrmOffline::List_tags_DblClick);
  connect(mnrel0, &QAction::triggered, this, &FrmOffline::mnrel0_Click);
  for (QAction* picture : {bmpexporta, mn_jointbmp, mn_linebmp, mn_platebmp, mn_bmptrack})
    connect(picture, &QAction::triggered, this, &FrmOffline::export_picture_Click);
  connect(asciiexporta, &QAction::triggered, this, &FrmOffline::asciiexporta_Click);
  connect(mn_jointexport, &QAction::triggered, this, &FrmOffline::mn_jointexport_Click);
  connect(mn_plategroups, &QAction::triggered, this, &FrmOffline::open_group_editor);
  connect(mn_datatrack, &QAction::triggered, this, &FrmOffline::mn_datatrack_Click);
  connect(Cmd_report, &QPushButton::clicked, this, &FrmOffline::Cmd_report_Click);
  connect(mnadvanced, &QAction::triggered, this, &FrmOffline::Cmd_report_Click);
  connect(cmd_log, &QPushButton::clicked, this, &FrmOffline::cmd_log_Click);
  connect(mnlog, &QAction::triggered, this, &FrmOffline::cmd_log_Click);
  connect(mnrestore, &QAction::triggered, this, &FrmOffline::mnrestore_Click);
  // Another window's re-analysis may have kept the recorded counts since the entry was set.
  connect(mnfile, &QMenu::aboutToShow, this, &FrmOffline::show_restore_entry);
  connect(cmd_track, &QPushButton::clicked, this, &FrmOffline::cmd_track_Click);
  connect(Timer_play, &QTimer::timeout, this, &FrmOffline::Timer_play_Timer);
  connect(combogrup2, &QComboBox::activated, this, [this] { combogrup2_Click(); });
  connect(Combo_sets, &QComboBox::activated, this, [this] { Combo_sets_Click(); });
  connect(cmd_goset, &QPushButton::clicked, this, &FrmOffline::cmd_goset_Click);
  connect(Cmd_clear, &QPushButton::clicked, this, &FrmOffline::Cmd_clear_Click);
  connect(cmdcancelgrups, &QPushButton::clicked, this, &FrmOffline::cmdcancelgrups_Click);
  combogrup2->installEventFilter(this);
  Picreal->setMouseTracking(true);
  connect(scrollpage, &QScrollBar::valueChanged, this, [this] {
    if (!filling_) scrollpage_Change();
  });
  for (QComboBox* box : {Combofila, Combocol})
    connect(box, &QComboBox::currentIndexChanged, this, [this] {
      if (!filling_) well_Click();
    });
  connect(txtsub, &QLineEdit::editingFinished, this, &FrmOffline::well_Click);
  connect(combogrup, &QComboBox::currentIndexChanged, this, [this] {
    if (!filling_) combogrup_Click();
  });
  connect(lstgrup, &QListWidget::itemDoubleClicked, this, &FrmOffline::lstgrup_DblClick);
  connect(Cmd_analyze, &QPushButton::clicked, this, &FrmOffline::Cmd_analyze_Click);
  connect(Picreal, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { Picreal_MouseUp_Right(Picreal->mapToGlobal(at)); });
  for (QWidget* w : std::initializer_list<QWidget*>{Picreal, lstgrup_plot, lstgrup})
    w->installEventFilter(this);
}

void FrmOffline::Form_Load() {
  if (loading_ || regroup_) return;
  leave_panels();
  Txt_description->hide();
  chk_bmp->hide();
  show_page_controls(false);
  browser_->open();
  lbl_orden->setText(qs(browser_->order_arrow()));
  const WatchedFolders& watched = browser_->watched_folders();
  for (int i = 0; i < kWatchedFolderCount; ++i)
    txtfolder[i]->setText(qs(watched[i]));
  cmb_modeanalisis->clear();
  cmb_modeanalisis->addItems({"Mode:0", "Mode:1"});
  cmb_modeanalisis->setCurrentIndex(0);
  frmtxt_threshold->setText("1.8");
  lbl_pj_title->setText(qs(kNoProjectTitle));
  lbl_subpj_title->setText(qs(kNoAcquisitionTitle));
  lbl_tagplot->hide();
  List_tags->hide();
  cmd_track->hide();
  cmdchannels->setEnabled(false);
  Cmd_analyze->setEnabled(false);
  Cmd_report->setEnabled(false);
  Cmd_report->setText(qs(kReportIdleCaption));
  cmd_log->setEnabled(false);
  mnlog->setEnabled(false);
  show_restore_entry();
  lblcanal->setText("CH:");
  show_list();
  draw_plot();
}

void FrmOffline::show_list() {
  filling_ = true;
  Listpj->clear();
  for (const std::string& text : browser_->line_texts())
    Listpj->addItem(qs(text));
  const std::vector<bool>& selected = browser_->selected();
  for (std::size_t i = 0; i < selected.size(); ++i)
    Listpj->item(static_cast<int>(i))->setSelected(selected[i]);
  if (browser_->current_line() >= 0)
    Listpj->setCurrentRow(browser_->current_line(), QItemSelectionModel::NoUpdate);
  filling_ = false;
}

void FrmOffline::take_selection() {
  std::vector<bool> selected(static_cast<std::size_t>(Listpj->count()), false);
  for (int i = 0; i < Listpj->count(); ++i)
    selected[i] = Listpj->item(i)->isSelected();
  browser_->set_selection(std::move(selected), Listpj->currentRow());
}

void FrmOffline::show_page_controls(bool visible) {
  for (QWidget* w : std::initializer_list<QWidget*>{scrollpage, Label_page, Txtpage})
    w->setVisible(visible);
}

void FrmOffline::Listpj_DblClick() {
  if (loading_ || regroup_) return;
  leave_panels();
  take_selection();
  const Opened opened = browser_->open_line();
  if (opened == Opened::Nothing) return;
  if (opened == Opened::Project) {
    cmdchannels->setEnabled(false);
    Cmd_analyze->setEnabled(false);
    Cmd_leegroups->setEnabled(true);
    Cmd_report->setEnabled(false);
    Cmd_report->setText(qs(kReportIdleCaption));
    cmd_log->setEnabled(false);
    mnlog->setEnabled(false);
    show_restore_entry();
  } else {
    show_opened_acquisition();
  }
  show_list();
}

void FrmOffline::show_opened_acquisition() {
  const OpenedAcquisition& o = browser_->opened();
  for (QPushButton* b : {cmdchannels, Cmd_analyze, Cmd_report, Cmd_leegroups, cmd_log})
    b->setEnabled(true);
  mnlog->setEnabled(true);
  show_restore_entry();
  show_page_controls(false);
  filling_ = true;
  fill_items(Combofila, o.selectors.rows);
  fill_items(Combocol, o.selectors.columns);
  fill_items(combogrup, o.selectors.groups);
  txtsub->setText("0");
  lstgrup_plot->clear();
  for (const std::string& item : plots().group_items())
    lstgrup_plot->addItem(qs(item));
  if (plots().selected_item() >= 0) lstgrup_plot->setCurrentRow(plots().selected_item());
  filling_ = false;
  combogrup_Click();
  lblcanal->setText(qs(plots().channel_text()));
  lbl_pj_title->setText(qs(o.project_title));
  lbl_subpj_title->setText(qs(o.acquisition_title));
  filling_ = true;
  Txt_description->setPlainText(qs(o.comments));
  filling_ = false;
  chk_bmp->hide();
  cmd_track->setVisible(o.track_available);
  // Opening the acquisition computed its bar plot.
  show_group_controls();
  draw_plot();
  List_tags->clear();
  for (const std::string& tag : o.tags)
    List_tags->addItem(qs(tag));
  List_tags->setVisible(!o.tags.empty());
  lbl_tagplot->setVisible(!o.tags.empty());
}

void FrmOffline::Cmd_leegroups_Click() {
  if (loading_) return;
  leave_panels();
  show_group_controls();
  plots().show_bars();
  draw_plot();
}

void FrmOffline::show_group_controls() {
  cmdchannels->setText("Channel Signal");
  Cmd_leegroups->setText("[Group Activity]");
  show_page_controls(false);
  for (QWidget* w :
       std::initializer_list<QWidget*>{combogrup, lstgrup, Pic_status, fmranalizar, Frame_bisize})
    w->hide();
  for (QWidget* w :
       std::initializer_list<QWidget*>{lstgrup_plot, frame_plotbutton, Txt_description})
    w->show();
  txt_pj_details->setPlainText(qs(plots().details()));
}

void FrmOffline::cmdchannels_Click() {
  if (loading_) return;
  leave_panels();
  cmdchannels->setText("[Channel Signal]");
  Cmd_leegroups->setText("Group Activity");
  lstgrup_plot->hide();
  frame_plotbutton->hide();
  for (QWidget* w : std::initializer_list<QWidget*>{combogrup, lstgrup, Pic_status, fmranalizar})
    w->show();
  loading_ = true;
  plots().show_channel_signal([this](double fraction) { load_progress(fraction); });
  loading_ = false;
  draw_progress(*Pic_status, 1.0);
  show_page();
  draw_plot();
}

void FrmOffline::load_progress(double fraction) {
  draw_progress(*Pic_status, fraction);
  // The page is read file by file; between files the window repaints and takes input (plot
  // commands are refused until the page is complete).
  QCoreApplication::processEvents();
}

void FrmOffline::show_page() {
  const RealtimePage& page = plots().page();
  filling_ = true;
  scrollpage->setRange(1, std::max(1, page.page_count()));
  scrollpage->setValue(std::max(1, page.page()));
  filling_ = false;
  Txtpage->setText(qs(page.page_text()));
  show_page_controls(plots().mode() == PlotMode::Signal && page.page_count() > 0);
}

void FrmOffline::scrollpage_Change() {
  const int wanted = scrollpage->value();
  bool loaded = false;
  if (!loading_ && plots().mode() == PlotMode::Signal) {
    Txtpage->setText(QString("%1/%2").arg(wanted).arg(plots().page().page_count()));
    loading_ = true;
    loaded = plots().set_page(wanted, [this](double fraction) { load_progress(fraction); });
    loading_ = false;
    draw_progress(*Pic_status, 1.0);
  }
  // Outside the signal view (or while a page loads) the change is undone.
  show_page();
  if (loaded) draw_plot();
}

PlotView& FrmOffline::plots() { return browser_->plots(); }

void FrmOffline::draw_plot() {
  if (panel_mode_ == kGroupEditorMode && regroup_) {
    regroup_->draw(*Picreal);
    return;
  }
  if (panel_mode_ == kTrackMode && track_ && track_->is_open()) {
    track_->draw(*Picreal);
    return;
  }
  if (panel_mode_ == kTrackExportedMode) return; // the last frame stays
  if (!plots().draw(*Picreal)) Picreal->clear({255, 255, 255});
}

void FrmOffline::Cmd_barplot_Click() {
  if (loading_) return;
  leave_panels();
  txt_binsize->setText("5");
  plots().show_bar_plot();
  chk_bmp->hide();
  Txtpage->hide();
  draw_plot();
}

void FrmOffline::Cmd_gridplot_Click() {
  if (loading_) return;
  leave_panels();
  for (QWidget* w : std::initializer_list<QWidget*>{chk_bmp, Txtpage, Frame_bisize})
    w->hide();
  plots().show_heat_map();
  draw_plot();
}

void FrmOffline::Cmd_lineplot_Click() {
  if (loading_) return;
  leave_panels();
  Frame_bisize->show();
  List_tags->clearSelection();
  plots().show_line_plot();
  txt_binsize->setText(qs(plots().bin_text()));
  draw_plot();
}

void FrmOffline::cmd_minus_Click() {
  if (loading_) return;
  plots().bin_minus(str(txt_binsize->text()));
  txt_binsize->setText(qs(plots().bin_text()));
  draw_plot();
}

void FrmOffline::cmd_plus_Click() {
  if (loading_) return;
  plots().bin_plus(str(txt_binsize->text()));
  txt_binsize->setText(qs(plots().bin_text()));
  draw_plot();
}

void FrmOffline::lstgrup_plot_Click() { plots().select_item(lstgrup_plot->currentRow()); }

void FrmOffline::lstgrup_plot_DblClick() {
  if (loading_ || lstgrup_plot->currentRow() < 0) return;
  plots().activate_item(lstgrup_plot->currentRow());
  draw_plot();
}

void FrmOffline::List_tags_DblClick() {
  if (loading_ || !List_tags->currentItem()) return;
  leave_panels();
  mnrel0->setChecked(false);
  const std::string list = browser_->tag_acquisitions(str(List_tags->currentItem()->text()));
  plots().show_kinetic(list);
  if (list.empty()) return;
  show_group_controls();
  txt_binsize->setText("5");
  Frame_bisize->hide();
  draw_plot();
}

void FrmOffline::mnrel0_Click() {
  if (loading_) return;
  plots().toggle_relativize();
  mnrel0->setChecked(plots().relativize());
  draw_plot();
}

void FrmOffline::well_Click() {
  if (loading_) return;
  plots().pick_well(Combofila->currentIndex(), Combocol->currentText().toInt(),
                    txtsub->text().trimmed().toInt());
  lblcanal->setText(qs(plots().channel_text()));
  if (plots().mode() == PlotMode::Signal) draw_plot();
}

void FrmOffline::combogrup_Click() {
  wells_ = plots().group_wells(str(combogrup->currentText()));
  lstgrup->clear();
  for (const acquisition::WellEntry& entry : wells_)
    lstgrup->addItem(qs(entry.text));
}

void FrmOffline::lstgrup_DblClick() {
  const int row = lstgrup->currentRow();
  if (loading_ || row < 0 || row >= static_cast<int>(wells_.size())) return;
  txtsub->setText("0");
  const auto place = plots().activate_well(wells_[static_cast<std::size_t>(row)]);
  if (place) {
    filling_ = true;
    Combofila->setCurrentIndex(place->first);
    Combocol->setCurrentIndex(Combocol->findText(QString::number(place->second)));
    filling_ = false;
  }
  lblcanal->setText(qs(plots().channel_text()));
  draw_plot();
}

void FrmOffline::Cmd_analyze_Click() {
  if (loading_) return;
  if (plots().mode() != PlotMode::Signal || plots().page().blocks() == 0) cmdchannels_Click();
  frmtxt_threshold->setText(
      qs(plots().analyze(str(frmtxt_threshold->text()), cmb_modeanalisis->currentIndex())));
  draw_plot();
}

QMenu* FrmOffline::plot_menu() const {
  if (panel_mode_ == kTrackMode) return mntrack;
  if (panel_mode_ != -1) return nullptr;
  switch (browser_->plots().menu()) {
  case PlotMenu::Relativize:
    return mnrelativize;
  case PlotMenu::Line:
    return mnline;
  case PlotMenu::Plate:
    return Mnplate;
  case PlotMenu::Export:
    break;
  }
  return mnexporta;
}

void FrmOffline::Picreal_MouseUp_Right(const QPoint& global) {
  if (!browser_->tables()) return;
  if (QMenu* menu = plot_menu()) menu->popup(global);
}

void FrmOffline::Listpj_MouseUp_Right(const QPoint& global) {
  take_selection();
  mntag_jk->menuAction()->setVisible(browser_->selection_is_acquisition());
  mnrename->popup(global);
}

void FrmOffline::lblproject_Click() {
  txt_search->clear();
  browser_->reset();
  show_list();
}

void FrmOffline::lbl_date_Click() {
  browser_->flip_order();
  lbl_orden->setText(qs(browser_->order_arrow()));
  show_list();
}

void FrmOffline::cmd_lupa_Click() {
  const std::string text = str(txt_search->text());
  txt_search->clear();
  browser_->search(text);
  show_list();
}

void FrmOffline::lst_rename_Click() {
  take_selection();
  browser_->rename();
  show_list();
}

void FrmOffline::lst_explorefind_Click() {
  take_selection();
  browser_->find_in_folder();
}

void FrmOffline::lst_delete_Click() {
  if (loading_) return;
  take_selection();
  browser_->archive();
  show_list();
}

void FrmOffline::tagjk_Click(int k) {
  take_selection();
  browser_->tag(k);
  show_list();
}

void FrmOffline::lst_plateconfig_Click() {
  if (loading_ || regroup_) return;
  take_selection();
  if (browser_->plate_config()) open_group_editor();
}

void FrmOffline::txtfolder_Click(int i) {
  if (browser_->ask_watched_folder(i)) txtfolder[i]->setText(qs(browser_->watched_folders()[i]));
}

void FrmOffline::Cmd_main_Click() {
  if (loading_ || regroup_) return;
  leave_panels();
  browser_->comments_left(str(Txt_description->toPlainText()));
  browser_->clear_current();
  if (show_start_screen_) show_start_screen_();
  hide();
}

void FrmOffline::Timer_button_Timer() {
  lblproject->setStyleSheet(kHeaderBlue);
  lbl_date->setStyleSheet(kHeaderBlue);
}

void FrmOffline::highlight_header(QLabel* header) {
  header->setStyleSheet(kHeaderGreen);
  Timer_button->start();
}

bool FrmOffline::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == lblproject || watched == lbl_date) {
    auto* header = static_cast<QLabel*>(watched);
    if (type == QEvent::Enter || type == QEvent::HoverMove) highlight_header(header);
    if (type == QEvent::MouseButtonRelease &&
        static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
      if (header == lblproject)
        lblproject_Click();
      else
        lbl_date_Click();
      return true;
    }
  } else if (watched == Listpj && type == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      Listpj_DblClick();
      return true;
    }
  } else if ((watched == lstgrup_plot || watched == lstgrup) && type == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(event)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      if (watched == lstgrup_plot)
        lstgrup_plot_DblClick();
      else
        lstgrup_DblClick();
      return true;
    }
  } else if (watched == Picreal && (type == QEvent::MouseButtonPress || type == QEvent::MouseMove ||
                                    type == QEvent::MouseButtonRelease)) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    const QPointF at = Picreal->to_world(mouse->position());
    if (type == QEvent::MouseButtonPress)
      Picreal_MouseDown(at.x(), at.y(), mouse->button());
    else if (type == QEvent::MouseMove)
      Picreal_MouseMove(at.x(), at.y());
    else
      Picreal_MouseUp(at.x(), at.y(), mouse->button());
  } else if (watched == combogrup2 &&
             (type == QEvent::MouseButtonDblClick ||
              (type == QEvent::KeyPress &&
               (static_cast<QKeyEvent*>(event)->key() == Qt::Key_Return ||
                static_cast<QKeyEvent*>(event)->key() == Qt::Key_Enter)))) {
    combogrup2_DblClick();
    return true;
  } else if (watched == Picreal && type == QEvent::Resize) {
    // The view is drawn again at the new size from the data in memory, once per burst of
    // resizes.
    if (!redraw_posted_) {
      redraw_posted_ = true;
      QTimer::singleShot(0, this, [this] {
        redraw_posted_ = false;
        if (!loading_) draw_plot();
      });
    }
  } else if (watched == Txt_description) {
    if (type == QEvent::FocusOut && watched == Txt_description)
      browser_->comments_left(str(Txt_description->toPlainText()));
  }
  return QWidget::eventFilter(watched, event);
}

void FrmOffline::showEvent(QShowEvent* event) {
  // Two fifths of the first width go to the list; the operator moves the split afterwards.
  if (!split_) {
    split_ = true;
    splitter_->setSizes({width() * 2 / 5, width() * 3 / 5});
  }
  QWidget::showEvent(event);
}

void FrmOffline::closeEvent(QCloseEvent* event) {
  // Closing with the group editor open asks, as its exit button does, whether to save.
  if (regroup_) cmdcancelgrups_Click();
  leave_panels();
  browser_->comments_left(str(Txt_description->toPlainText()));
  cmdchannels->setText("Channel Signal");
  cmdchannels->setEnabled(false);
  Cmd_leegroups->setText("[Group Activity]");
  if (show_start_screen_) show_start_screen_();
  event->accept();
}

} // namespace kestrova::browser
