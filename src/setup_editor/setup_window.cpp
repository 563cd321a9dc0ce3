#include "setup_editor/setup_window.hpp"

#include <QCloseEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMouseEvent>
#include <QVBoxLayout>

#include "setup_editor/plate_change.hpp"
#include "setup_editor/project_lifecycle.hpp"
#include "setup_editor/setup_fields.hpp"
#include "setup_editor/setup_layout.hpp"
#include "store/plate_format.hpp"
#include "store/project_files.hpp"
#include "ui/qt_text.hpp"
#include "ui/rounded_look.hpp"

namespace kestrova::setup_editor {

namespace {

using ui::qs;
std::string str(const QString& s) { return s.toStdString(); }

template <typename W> W* named(W* w, const QString& name) {
  w->setObjectName(name);
  return w;
}
QLabel* label(QWidget* parent, const QString& caption) { return new QLabel(caption, parent); }
QPushButton* button(QWidget* parent, const char* name, const QString& caption) {
  return named(new QPushButton(caption, parent), name);
}
QLineEdit* edit(QWidget* parent, const char* name) { return named(new QLineEdit(parent), name); }
QComboBox* combo(QWidget* parent, const char* name) { return named(new QComboBox(parent), name); }
QCheckBox* check(QWidget* parent, const char* name, const QString& caption) {
  return named(new QCheckBox(caption, parent), name);
}
void fill(QComboBox* box, const std::vector<std::string>& items) {
  box->clear();
  for (const auto& i : items)
    box->addItem(qs(i));
}
void place(QWidget* w, const PanelRect& r) { w->setGeometry(r.left, r.top, r.width, r.height); }

MouseButton mouse_button(Qt::MouseButton b) {
  if (b == Qt::LeftButton) return MouseButton::Left;
  if (b == Qt::RightButton) return MouseButton::Right;
  return MouseButton::Other;
}

const char* const kPanelStyle = "QFrame#%1, QGroupBox#%1 { border: 2px solid rgb(200,200,200); "
                                "border-radius: 15px; }";

} // namespace

FrmSetup::FrmSetup(SetupHost& host) : host_(host), editor_(host.project()) {
  setObjectName("Frm_setup");
  setWindowTitle("<Kestrova> Acquisition Software  --------> Setup");
  client_ = new QWidget(this);
  client_->setObjectName("client");
  setCentralWidget(client_);
  build_menus();
  build_plate_and_groups();
  build_annotations();
  build_project_frames();
  build_bottom();
  connect_handlers();
  ui::apply_rounded_look(this);
  Timer1 = named(new QTimer(this), "Timer1");
  Timer1->setSingleShot(true);
  Timer1->setInterval(10);
  connect(Timer1, &QTimer::timeout, this, &FrmSetup::Timer1_Timer);
  setMinimumSize(800, 560);
  resize(1100, 760);
}

// --- Building ---

void FrmSetup::build_menus() {
  QMenu* tools = menuBar()->addMenu("&Tools");
  mn_advanced = named(tools->addAction("Advanced Tools"), "mn_advanced");
  mn_group_action = named(new QMenu("Group Action", this), "mn_group_action");
  mnren_group = named(mn_group_action->addAction("Rename"), "mnren_group");
  mn_groupclr = named(mn_group_action->addAction("Clear Group"), "mn_groupclr");
  mngroup = named(new QMenu("Sets", this), "mngroup");
  for (std::size_t i = 0; i < mnopciongrup.size(); ++i) {
    mnopciongrup[i] = named(mngroup->addAction(""), QString("mnopciongrup_%1").arg(i));
    mnopciongrup[i]->setCheckable(true);
  }
}

void FrmSetup::build_plate_and_groups() {
  frm_plate = named(new QFrame(client_), "frm_plate");
  frm_plate->setStyleSheet(QString(kPanelStyle).arg("frm_plate"));
  auto* pl = new QVBoxLayout(frm_plate);
  pl->setContentsMargins(8, 8, 8, 8);
  Picwell = named(new ui::PictureBox(frm_plate), "Picwell");
  Picwell->setToolTip("Click wells to assign/remove groups");
  Picwell->setMouseTracking(true);
  Picwell->installEventFilter(this);
  pl->addWidget(Picwell);

  frm_groups = named(new QFrame(client_), "frm_groups");
  frm_groups->setStyleSheet(QString(kPanelStyle).arg("frm_groups"));
  auto* g = new QGridLayout(frm_groups);
  g->setContentsMargins(10, 8, 10, 8);
  g->addWidget(label(frm_groups, "Group:"), 0, 0);
  combogrup = combo(frm_groups, "combogrup");
  combogrup->setContextMenuPolicy(Qt::CustomContextMenu);
  combogrup->installEventFilter(this);
  g->addWidget(combogrup, 1, 0);
  lstgrup = named(new QListWidget(frm_groups), "lstgrup");
  lstgrup->setFrameShape(QFrame::NoFrame);
  lstgrup->installEventFilter(this);
  g->addWidget(lstgrup, 2, 0, 3, 1);
  Command12 = button(frm_groups, "Command12", "<=");
  Command13 = button(frm_groups, "Command13", "=>");
  g->addWidget(Command12, 2, 1);
  g->addWidget(Command13, 3, 1);
  g->addWidget(label(frm_groups, "Free wells:"), 1, 2);
  lstchgrup = named(new QListWidget(frm_groups), "lstchgrup");
  lstchgrup->setFrameShape(QFrame::NoFrame);
  lstchgrup->installEventFilter(this);
  g->addWidget(lstchgrup, 2, 2, 3, 1);
  Cmd_clear = button(frm_groups, "Cmd_clear", "CLEAR");
  cmd_goset = button(frm_groups, "cmd_goset", "AUTO-ARRANGE");
  Combo_sets = combo(frm_groups, "Combo_sets");
  g->addWidget(Cmd_clear, 1, 3);
  g->addWidget(cmd_goset, 2, 3);
  g->addWidget(Combo_sets, 3, 3);
  for (std::size_t i = 0; i < plate_option.size(); ++i) {
    plate_option[i] =
        named(new QRadioButton("STATION", frm_groups), QString("plate_option_%1").arg(i));
    plate_option[i]->hide();
  }
  g->setColumnStretch(0, 3);
  g->setColumnStretch(2, 3);
  g->setColumnStretch(3, 2);
  g->setRowStretch(4, 1);
}

void FrmSetup::build_annotations() {
  frm_advance = named(new QFrame(client_), "frm_advance");
  frm_advance->setStyleSheet(QString(kPanelStyle).arg("frm_advance") +
                             " QFrame#frm_advance { background: rgb(246,248,250); }");
  auto* g = new QGridLayout(frm_advance);
  g->setContentsMargins(10, 6, 10, 6);
  g->setVerticalSpacing(2);
  const char* heads[] = {"Group", "Compound", "Strain", "[org/well]", "Buffer", "[Conc]"};
  for (int c = 0; c < 6; ++c)
    g->addWidget(label(frm_advance, heads[c]), 0, c + 1);
  const auto row_edit = [this](const char* base, int row) {
    return named(new QLineEdit(frm_advance), QString("%1_%2").arg(base).arg(row));
  };
  for (int r = 0; r < kAnnotationRows; ++r) {
    const auto i = static_cast<std::size_t>(r);
    adv_group[i] = named(new QRadioButton(frm_advance), QString("adv_group_%1").arg(r));
    txt_group[i] = row_edit("txt_group", r);
    txt_group[i]->setReadOnly(true);
    txt_compound[i] = row_edit("txt_compound", r);
    txt_strain[i] = row_edit("txt_strain", r);
    txt_org[i] = row_edit("txt_org", r);
    txt_buffer[i] = row_edit("txt_buffer", r);
    txt_conc[i] = row_edit("txt_conc", r);
    int c = 0;
    for (QWidget* w :
         std::initializer_list<QWidget*>{adv_group[i], txt_group[i], txt_compound[i], txt_strain[i],
                                         txt_org[i], txt_buffer[i], txt_conc[i]})
      g->addWidget(w, r + 1, c++);
  }
  adv_group[0]->setChecked(true);
  cmd_up = button(frm_advance, "cmd_up", "^");
  cmd_down = button(frm_advance, "cmd_down", "v");
  g->addWidget(cmd_up, 1, 7);
  g->addWidget(cmd_down, 6, 7);
  combo_tool = combo(frm_advance, "combo_tool");
  for (auto item : kAnnotationToolItems)
    combo_tool->addItem(qs(item));
  txt_global = edit(frm_advance, "txt_global");
  cmd_fill = button(frm_advance, "cmd_fill", "Fill");
  cmd_setglobal = button(frm_advance, "cmd_setglobal", "SET Global");
  g->addWidget(combo_tool, 7, 1, 1, 2);
  g->addWidget(txt_global, 7, 3, 1, 2);
  g->addWidget(cmd_fill, 7, 5);
  g->addWidget(cmd_setglobal, 7, 6);
  Chk_global_strain = check(frm_advance, "Chk_global_strain", "Strain");
  Chk_global_buffer = check(frm_advance, "Chk_global_buffer", "Buffer");
  Chk_global_orgnum = check(frm_advance, "Chk_global_orgnum", "[org/well]");
  txt_global_strain = edit(frm_advance, "txt_global_strain");
  txt_global_buffer = edit(frm_advance, "txt_global_buffer");
  txt_global_orgnum = edit(frm_advance, "txt_global_orgnum");
  g->addWidget(Chk_global_strain, 8, 1);
  g->addWidget(txt_global_strain, 8, 2);
  g->addWidget(Chk_global_buffer, 8, 3);
  g->addWidget(txt_global_buffer, 8, 4);
  g->addWidget(Chk_global_orgnum, 8, 5);
  g->addWidget(txt_global_orgnum, 8, 6);
  cmd_annot_web = button(frm_advance, "cmd_annot_web", "Advanced Annotation");
  cmd_sync = button(frm_advance, "cmd_sync", "Sync");
  txt_annot_id = edit(frm_advance, "txt_annot_id");
  txt_annot_id->setPlaceholderText("Annotation ID");
  g->addWidget(cmd_annot_web, 9, 1, 1, 2);
  g->addWidget(txt_annot_id, 9, 3, 1, 2);
  g->addWidget(cmd_sync, 9, 5);
  frm_advance->hide();
}

void FrmSetup::build_project_frames() {
  Frame_setup = named(new QGroupBox("Project", client_), "Frame_setup");
  auto* s = new QGridLayout(Frame_setup);
  txtprj = edit(Frame_setup, "txtprj");
  txtprj->setReadOnly(true);
  txtprj->setToolTip("DblClick to Rename");
  txtprj->installEventFilter(this);
  Cmdnewpj = button(Frame_setup, "Cmdnewpj", "New...");
  Cmdsavepj = button(Frame_setup, "Cmdsavepj", "Save...");
  cmdLoad = button(Frame_setup, "cmdLoad", "Load...");
  s->addWidget(txtprj, 0, 0, 1, 3);
  s->addWidget(Cmdnewpj, 1, 0);
  s->addWidget(Cmdsavepj, 1, 1);
  s->addWidget(cmdLoad, 1, 2);
  s->addWidget(label(Frame_setup, "Working Folder:"), 2, 0);
  Txtfolder = edit(Frame_setup, "Txtfolder");
  Txtfolder->setReadOnly(true);
  s->addWidget(Txtfolder, 2, 1, 1, 2);
  s->addWidget(label(Frame_setup, "Plate format:"), 3, 0);
  Combowell = combo(Frame_setup, "Combowell");
  s->addWidget(Combowell, 3, 1, 1, 2);
  s->addWidget(label(Frame_setup, "Acquisition lapse:"), 4, 0);
  Txtlapse = edit(Frame_setup, "Txtlapse");
  s->addWidget(Txtlapse, 4, 1);
  s->addWidget(label(Frame_setup, "min"), 4, 2);
  s->addWidget(label(Frame_setup, "Acquisition mode:"), 5, 0);
  Combo_aqmode = combo(Frame_setup, "Combo_aqmode");
  s->addWidget(Combo_aqmode, 5, 1, 1, 2);

  Frame_extra = named(new QGroupBox("Extra setups", client_), "Frame_extra");
  auto* e = new QGridLayout(Frame_extra);
  e->addWidget(label(Frame_extra, "Sample rate:"), 0, 0);
  Txtsample = edit(Frame_extra, "Txtsample");
  e->addWidget(Txtsample, 0, 1);
  e->addWidget(label(Frame_extra, "/sec"), 0, 2);
  e->addWidget(label(Frame_extra, "Real-time Buffer:"), 1, 0);
  Txtbuffer = edit(Frame_extra, "Txtbuffer");
  e->addWidget(Txtbuffer, 1, 1);
  e->addWidget(label(Frame_extra, "bytes"), 1, 2);
  e->addWidget(label(Frame_extra, "DSP Interval:"), 2, 0);
  Txt_dspinterval = edit(Frame_extra, "Txt_dspinterval");
  e->addWidget(Txt_dspinterval, 2, 1);
  ComboDSP = combo(Frame_extra, "ComboDSP");
  e->addWidget(ComboDSP, 3, 0, 1, 3);
  Cmb_organism = combo(Frame_extra, "Cmb_organism");
  e->addWidget(Cmb_organism, 4, 0);
  txt_snr = button(Frame_extra, "txt_snr", "SNR");
  txt_snr->setToolTip("Double click to enable edition");
  txt_snr->setFlat(true);
  txt_snr->installEventFilter(this);
  e->addWidget(txt_snr, 4, 1);
  lbl_snr = edit(Frame_extra, "lbl_snr");
  lbl_snr->installEventFilter(this);
  e->addWidget(lbl_snr, 4, 2);

  frm_notes = named(new QFrame(client_), "frm_notes");
  auto* n = new QVBoxLayout(frm_notes);
  n->setContentsMargins(0, 0, 0, 0);
  n->addWidget(label(frm_notes, "Notes:"));
  Txt_description = named(new QPlainTextEdit(frm_notes), "Txt_description");
  n->addWidget(Txt_description);

  Frame_advanced = named(new QGroupBox("Advanced", client_), "Frame_advanced");
  Frame_advanced->setAutoFillBackground(true);
  auto* a = new QGridLayout(Frame_advanced);
  a->addWidget(label(Frame_advanced, "Save Counts/minute"), 0, 0);
  Combosavecount = combo(Frame_advanced, "Combosavecount");
  a->addWidget(Combosavecount, 0, 1);
  a->addWidget(label(Frame_advanced, "Save Real-time"), 1, 0);
  Combosavereal = combo(Frame_advanced, "Combosavereal");
  a->addWidget(Combosavereal, 1, 1);
  chkcalib = check(Frame_advanced, "chkcalib", "Calibration Control");
  chklight = check(Frame_advanced, "chklight", "Light Control*");
  chktemp = check(Frame_advanced, "chktemp", "Temperature Control*");
  Chk_mn4 = check(Frame_advanced, "Chk_mn4", "Menu 4");
  Chk_mn5 = check(Frame_advanced, "Chk_mn5", "Menu 5");
  Chk_mn6 = check(Frame_advanced, "Chk_mn6", "Menu 6");
  a->addWidget(chkcalib, 2, 0);
  a->addWidget(chklight, 3, 0);
  a->addWidget(chktemp, 4, 0);
  a->addWidget(Chk_mn4, 2, 1);
  a->addWidget(Chk_mn5, 3, 1);
  a->addWidget(Chk_mn6, 4, 1);
  a->addWidget(label(Frame_advanced, "*Available only in some Hardware versions!"), 5, 0, 1, 2);
  Frame_advanced->hide();

  frm_project = named(new QFrame(client_), "frm_project");
  frm_project->setAutoFillBackground(true);
  frm_project->setStyleSheet(QString(kPanelStyle).arg("frm_project"));
  auto* p = new QVBoxLayout(frm_project);
  p->addWidget(label(frm_project, "SELECT PROJECT TO LOAD:"));
  List_project = named(new QListWidget(frm_project), "List_project");
  p->addWidget(List_project);
  Cmd_cancel = button(frm_project, "Cmd_cancel", "Cancel");
  p->addWidget(Cmd_cancel);
  frm_project->hide();
}

void FrmSetup::build_bottom() {
  chk_advance = check(client_, "chk_advance", "Advanced Annotation");
  lblnchannel = named(new QLabel("Well:", client_), "lblnchannel");
  label_bottom_ = named(new QLabel(client_), "frm_bottom_left");
  auto* bl = new QHBoxLayout(label_bottom_);
  bl->setContentsMargins(4, 0, 4, 0);
  bl->addWidget(chk_advance);
  bl->addStretch(1);
  bl->addWidget(lblnchannel);
  Cmdoffline = button(client_, "Cmdoffline", "< Back");
  Command_main = button(client_, "Command_main", "Continue to Run...");
}

void FrmSetup::connect_handlers() {
  connect(Command_main, &QPushButton::clicked, this, &FrmSetup::Command_main_Click);
  connect(Cmdoffline, &QPushButton::clicked, this, &FrmSetup::Cmdoffline_Click);
  connect(mn_advanced, &QAction::triggered, this, &FrmSetup::mn_advanced_Click);
  connect(Cmdnewpj, &QPushButton::clicked, this, &FrmSetup::Cmdnewpj_Click);
  connect(Cmdsavepj, &QPushButton::clicked, this, &FrmSetup::Cmdsavepj_Click);
  connect(cmdLoad, &QPushButton::clicked, this, &FrmSetup::cmdLoad_Click);
  connect(Cmd_cancel, &QPushButton::clicked, frm_project, &QWidget::hide);
  connect(List_project, &QListWidget::itemDoubleClicked, this, [this] { List_project_DblClick(); });
  connect(Cmd_clear, &QPushButton::clicked, this, &FrmSetup::Cmd_clear_Click);
  connect(cmd_goset, &QPushButton::clicked, this,
          [this] { mngroup->popup(cmd_goset->mapToGlobal(QPoint(0, cmd_goset->height()))); });
  for (std::size_t i = 0; i < mnopciongrup.size(); ++i)
    connect(mnopciongrup[i], &QAction::triggered, this,
            [this, i] { mnopciongrup_Click(static_cast<int>(i)); });
  connect(Command12, &QPushButton::clicked, this, &FrmSetup::Command12_Click);
  connect(Command13, &QPushButton::clicked, this, &FrmSetup::Command13_Click);
  connect(lstchgrup, &QListWidget::itemDoubleClicked, this, [this] { Command12_Click(); });
  connect(lstgrup, &QListWidget::itemDoubleClicked, this, [this] { Command13_Click(); });
  connect(combogrup, &QComboBox::activated, this, [this](int index) {
    editor_.select_entry(index);
    lstgrup->clear();
    for (const auto& w : editor_.group_wells())
      lstgrup->addItem(qs(w));
  });
  connect(combogrup, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& at) { mn_group_action->popup(combogrup->mapToGlobal(at)); });
  connect(mnren_group, &QAction::triggered, this, [this] {
    if (editor_.rename_current(host_.dialogs())) refresh_groups();
  });
  connect(mn_groupclr, &QAction::triggered, this, [this] {
    if (editor_.clear_current(host_.dialogs())) refresh_groups();
  });

  // Parameters: each writes straight into the project's setup.
  auto& setup = host_.project().setup;
  const auto entry_rule = [this](QLineEdit* box, FieldEntry (*rule)(std::string_view), int& field) {
    const FieldEntry e = rule(str(box->text()));
    field = e.value;
    if (e.shown) box->setText(qs(*e.shown));
  };
  connect(Txtlapse, &QLineEdit::textEdited, this,
          [this, entry_rule, &setup] { entry_rule(Txtlapse, lapse_entry, setup.Aq_lapse); });
  connect(Txtsample, &QLineEdit::textEdited, this, [this, entry_rule, &setup] {
    entry_rule(Txtsample, whole_number_entry, setup.Sample_Rate);
  });
  connect(Txt_dspinterval, &QLineEdit::textEdited, this, [this, entry_rule, &setup] {
    entry_rule(Txt_dspinterval, whole_number_entry, setup.DSP_Interval);
  });
  connect(Txtbuffer, &QLineEdit::editingFinished, this,
          [this, entry_rule, &setup] { entry_rule(Txtbuffer, buffer_entry, setup.RT_Buffer); });
  connect(Combo_aqmode, &QComboBox::activated, this, [&setup](int i) { setup.Aq_mode = i; });
  connect(ComboDSP, &QComboBox::activated, this, [&setup](int i) { setup.DSP_Method = i; });
  connect(Cmb_organism, &QComboBox::activated, this, [this, &setup](int i) {
    choose_organism(setup, i);
    lbl_snr->setText(qs(snr_text(snr_x10_of(setup))));
    ComboDSP->setCurrentIndex(setup.DSP_Method);
  });
  connect(Combosavecount, &QComboBox::activated, this, [this, &setup] {
    Combosavecount->setCurrentIndex(1);
    setup.Save_counts = 1;
  });
  connect(Combosavereal, &QComboBox::activated, this,
          [this, &setup] { setup.Save_real = save_real_value(str(Combosavereal->currentText())); });
  connect(Combowell, &QComboBox::activated, this, [this] { Timer1->start(); });
  connect(chklight, &QCheckBox::clicked, this, [this, &setup](bool on) {
    set_light_tool(setup, on);
    host_.show_tool_panels();
  });
  connect(chktemp, &QCheckBox::clicked, this, [this, &setup](bool on) {
    setup.tool_flags[kToolTemperature] = on ? 1 : 0;
    host_.show_tool_panels();
  });
  const std::array<QCheckBox*, 3> reserved = {Chk_mn4, Chk_mn5, Chk_mn6};
  for (std::size_t i = 0; i < reserved.size(); ++i)
    connect(reserved[i], &QCheckBox::clicked, this,
            [&setup, i](bool on) { setup.tool_flags[3 + i] = on ? 1 : 0; });

  // Annotation panel.
  connect(chk_advance, &QCheckBox::toggled, this, [this](bool on) {
    frm_advance->setVisible(on);
    frm_groups->setVisible(!on);
    if (on) fill_annotation_panel();
  });
  connect(cmd_up, &QPushButton::clicked, this, [this] {
    annotations_.scroll_up();
    fill_annotation_panel();
  });
  connect(cmd_down, &QPushButton::clicked, this, [this] {
    annotations_.scroll_down();
    fill_annotation_panel();
  });
  const auto row_boxes = [this](AnnotationKind kind) -> std::array<QLineEdit*, kAnnotationRows>& {
    switch (kind) {
    case AnnotationKind::Compound:
      return txt_compound;
    case AnnotationKind::Strain:
      return txt_strain;
    case AnnotationKind::Buffer:
      return txt_buffer;
    case AnnotationKind::OrgPerWell:
      return txt_org;
    default:
      return txt_conc;
    }
  };
  for (auto kind : {AnnotationKind::Compound, AnnotationKind::Strain, AnnotationKind::Buffer,
                    AnnotationKind::OrgPerWell, AnnotationKind::Concentration})
    for (int r = 0; r < kAnnotationRows; ++r)
      connect(row_boxes(kind)[static_cast<std::size_t>(r)], &QLineEdit::textEdited, this,
              [this, kind, r](const QString& t) { annotations_.set_row(r, kind, str(t)); });
  connect(cmd_fill, &QPushButton::clicked, this, [this] {
    annotations_.fill(static_cast<AnnotationKind>(combo_tool->currentIndex()),
                      str(txt_global->text()), host_.project().groups.main().names);
    fill_annotation_panel();
  });
  connect(cmd_setglobal, &QPushButton::clicked, this, [this] {
    annotations_.set_global(static_cast<AnnotationKind>(combo_tool->currentIndex()),
                            str(txt_global->text()));
    fill_annotation_panel();
  });
  const std::array<std::pair<QCheckBox*, AnnotationKind>, 3> globals = {
      std::pair{Chk_global_strain, AnnotationKind::Strain},
      std::pair{Chk_global_buffer, AnnotationKind::Buffer},
      std::pair{Chk_global_orgnum, AnnotationKind::OrgPerWell}};
  for (const auto& [box, kind] : globals)
    connect(box, &QCheckBox::clicked, this, [this, kind = kind](bool on) {
      annotations_.check_global(kind, on);
      fill_annotation_panel();
    });
  connect(txt_global_buffer, &QLineEdit::textEdited, this, [this](const QString& t) {
    annotations_.global(AnnotationKind::Buffer)->value = str(t);
  });
  connect(cmd_annot_web, &QPushButton::clicked, this,
          [this] { host_.shell().open_url(host_.maker_web_site()); });
}

// --- Window load, layout, leaving ---

void FrmSetup::Form_Load() {
  store::ProjectState& project = host_.project();
  store::SetupValues& setup = project.setup;
  editor_.set_ready(false);
  for (auto* o : plate_option)
    o->hide();
  fill_annotation_panel();
  if (setup.Name.empty())
    store::LoadProject(project, project.config.Actual_Project_Number, host_.dialogs());
  show_project_box();
  Frame_advanced->hide();

  Combowell->clear();
  for (const auto& name : store::ListPlateFormats(project.app_folder))
    Combowell->addItem(qs(name));
  Combowell->setCurrentIndex(Combowell->findText(qs(setup.Plate_format)));

  fill(Combo_aqmode, acquisition_mode_items());
  Combo_aqmode->setCurrentIndex(setup.Aq_mode);
  Txtlapse->setText(QString::number(setup.Aq_lapse));
  Txtsample->setText(QString::number(setup.Sample_Rate));
  Txtbuffer->setText(QString::number(setup.RT_Buffer));
  Txt_dspinterval->setText(QString::number(setup.DSP_Interval));
  fill(ComboDSP, dsp_method_items());
  ComboDSP->setCurrentIndex(setup.DSP_Method);
  fill(Cmb_organism, organism_items());
  Cmb_organism->setCurrentIndex(organism_of(setup));
  lbl_snr->setText(qs(load_snr(setup)));
  lbl_snr->setEnabled(false);

  fill(Combosavecount, yes_no_items());
  Combosavecount->setCurrentIndex(1);
  fill(Combosavereal, yes_no_items());
  Combosavereal->setCurrentIndex(setup.Save_real == 1 ? 1 : 0);

  frm_project->hide();
  chkcalib->setChecked(true);
  setup.tool_flags[kToolCalibration] = 1;
  host_.show_tool_panels();
  chkcalib->setEnabled(false);
  chklight->setChecked(setup.tool_flags[1] == 1);
  chktemp->setChecked(setup.tool_flags[2] == 1);
  Chk_mn4->setChecked(setup.tool_flags[3] == 1);
  Chk_mn5->setChecked(setup.tool_flags[4] == 1);
  Chk_mn6->setChecked(setup.tool_flags[5] == 1);
  Txt_description->setPlainText(qs(host_.setup_notes()));

  fill_set_sizes();
  refresh_groups();
  editor_.set_ready(true);
}

void FrmSetup::show_project_box() {
  const store::ProjectState& project = host_.project();
  txtprj->setText(qs(project_box_text(project)));
  Txtfolder->setText(QString::fromStdString(project.project_folder.string()));
}

void FrmSetup::Form_Resize() {
  const SetupLayout l = setup_layout(client_->width(), client_->height());
  place(frm_plate, l.plate);
  place(frm_groups, l.groups);
  place(frm_advance, l.annotations);
  place(Frame_setup, l.project);
  place(Frame_extra, l.extra);
  place(frm_notes, l.notes);
  place(Frame_advanced, l.advanced);
  place(frm_project, l.project_list);
  place(label_bottom_, l.bottom_left);
  const PanelRect& br = l.bottom_right;
  Cmdoffline->setGeometry(br.left, br.top, br.width / 3, br.height);
  Command_main->setGeometry(br.left + br.width / 3 + 8, br.top, br.width - br.width / 3 - 8,
                            br.height);
  Frame_advanced->raise();
  frm_project->raise();
  draw_plate();
}

void FrmSetup::resizeEvent(QResizeEvent* e) {
  QMainWindow::resizeEvent(e);
  Form_Resize();
}

void FrmSetup::hand_over_to_main(bool with_notes) {
  host_.show_detection(detection_line(host_.project().setup));
  if (with_notes) host_.setup_notes() = str(Txt_description->toPlainText());
  if (with_notes) host_.show_notes_in_main(host_.setup_notes());
}

void FrmSetup::Command_main_Click() {
  store::ProjectState& project = host_.project();
  apply_default_snr(project.setup);
  store::SaveProject(project, project.project_folder, project.config.Actual_Project_Number, -1,
                     host_.dialogs());
  hand_over_to_main(true);
  Frame_advanced->hide();
  hide();
  host_.run_latest_project();
}

void FrmSetup::Cmdoffline_Click() {
  hand_over_to_main(false);
  Frame_advanced->hide();
  hide();
  host_.show_start_screen();
}

void FrmSetup::closeEvent(QCloseEvent* e) {
  host_.setup_notes() = str(Txt_description->toPlainText());
  host_.show_notes_in_main(host_.setup_notes());
  e->accept();
  if (!host_.ended()) host_.show_start_screen();
}

void FrmSetup::mn_advanced_Click() {
  Frame_advanced->setVisible(Frame_advanced->isHidden());
  Frame_advanced->raise();
}

// --- Plate format ---

void FrmSetup::Timer1_Timer() {
  Timer1->stop();
  const PlateChange r = change_plate(editor_, host_.dialogs(), str(Combowell->currentText()));
  if (r == PlateChange::Loaded) {
    Form_Load();
  } else {
    Combowell->setCurrentIndex(Combowell->findText(qs(host_.project().setup.Plate_format)));
    if (r == PlateChange::Declined) return;
  }
}

// --- Signal-to-noise ---

void FrmSetup::txt_snr_DblClick() {
  lbl_snr->setEnabled(true);
  lbl_snr->setFocus();
}

void FrmSetup::lbl_snr_LostFocus() {
  if (checking_snr_ || !lbl_snr->isEnabled()) return;
  checking_snr_ = true;
  store::SetupValues& setup = host_.project().setup;
  const SnrCheck c = check_snr(organism_of(setup), str(lbl_snr->text()));
  snr_x10_of(setup) = c.snr_x10;
  lbl_snr->setText(qs(c.shown));
  if (!c.accepted) {
    host_.dialogs().message(c.message, common::Buttons::Ok, common::Icon::Warning);
    lbl_snr->setFocus();
  }
  checking_snr_ = false;
}

// --- Project ---

void FrmSetup::Cmdnewpj_Click() {
  if (new_project(host_.project(), host_.dialogs())) show_project_box();
}

void FrmSetup::Cmdsavepj_Click() {
  if (save_project(host_.project(), host_.dialogs())) show_project_box();
}

void FrmSetup::txtprj_DblClick() {
  if (rename_project(host_.project(), host_.dialogs())) show_project_box();
}

void FrmSetup::cmdLoad_Click() {
  store::ProjectState& project = host_.project();
  if (!prepare_load(project, host_.dialogs())) return;
  List_project->clear();
  for (const auto& entry : list_projects(project.app_folder, host_.dialogs()))
    List_project->addItem(qs(entry));
  frm_project->show();
  frm_project->raise();
}

void FrmSetup::List_project_DblClick() {
  const QListWidgetItem* item = List_project->currentItem();
  if (item == nullptr || item->text().isEmpty()) return;
  if (load_listed_project(host_.project(), host_.dialogs(), str(item->text()))) Form_Load();
}

// --- Groups ---

void FrmSetup::fill_set_sizes() {
  const auto sizes = set_sizes(host_.project().plate.geometry);
  Combo_sets->clear();
  for (const auto& s : sizes)
    Combo_sets->addItem(qs(s));
  for (std::size_t i = 0; i < mnopciongrup.size(); ++i) {
    mnopciongrup[i]->setVisible(i < sizes.size());
    mnopciongrup[i]->setChecked(false);
    if (i < sizes.size()) mnopciongrup[i]->setText(qs(sizes[i]));
  }
  Combo_sets->setCurrentIndex(default_set_index(sizes.size()));
}

void FrmSetup::refresh_groups() {
  editor_.refresh();
  combogrup->clear();
  for (const auto& e : editor_.group_entries())
    combogrup->addItem(qs(e));
  combogrup->setCurrentIndex(editor_.selected_entry());
  const auto refill = [](QListWidget* list, const std::vector<std::string>& items) {
    const int keep = list->currentRow();
    list->clear();
    for (const auto& i : items)
      list->addItem(qs(i));
    if (keep >= 0) list->setCurrentRow(kept_selection(keep, items.size()));
  };
  refill(lstgrup, editor_.group_wells());
  refill(lstchgrup, editor_.free_wells());
  draw_plate();
}

void FrmSetup::draw_plate() {
  setup_editor::draw_plate(*Picwell, host_.project(), editor_.rubber_band());
}

void FrmSetup::Cmd_clear_Click() {
  if (host_.dialogs().message("Do you like to Clear Group lists?", common::Buttons::YesNo) !=
      common::Answer::Yes)
    return;
  editor_.clear_all();
  refresh_groups();
}

void FrmSetup::mnopciongrup_Click(int index) {
  const auto i = static_cast<std::size_t>(index);
  const auto size = parse_set_size(str(mnopciongrup[i]->text()));
  if (!size) return;
  editor_.auto_arrange(size->first, size->second);
  for (std::size_t k = 0; k < mnopciongrup.size(); ++k)
    mnopciongrup[k]->setChecked(k == i);
  refresh_groups();
}

void FrmSetup::move_well(QListWidget* list, bool into_group) {
  const QListWidgetItem* item = list->currentItem();
  if (item == nullptr) return;
  const std::string entry = str(item->text());
  if (into_group ? editor_.add_well(entry) : editor_.free_well(entry)) refresh_groups();
}

void FrmSetup::Command12_Click() { move_well(lstchgrup, true); }

void FrmSetup::Command13_Click() { move_well(lstgrup, false); }

int FrmSetup::drag_group() const {
  if (frm_advance->isVisible())
    for (int r = 0; r < kAnnotationRows; ++r)
      if (adv_group[static_cast<std::size_t>(r)]->isChecked()) return annotations_.group_of_row(r);
  return editor_.current_group();
}

std::pair<double, double> FrmSetup::plate_point(QPointF pixel) const {
  const WorldRect w = plate_world(host_.project().plate.geometry);
  const double width = std::max(1, Picwell->width());
  const double height = std::max(1, Picwell->height());
  return {w.left + pixel.x() * (w.right - w.left) / width,
          w.top + pixel.y() * (w.bottom - w.top) / height};
}

void FrmSetup::Picwell_MouseDown(double x, double y, MouseButton button) {
  if (const auto caption = editor_.press(x, y, button)) {
    lblnchannel->setText("Well: " + qs(*caption));
    refresh_groups();
  }
}

void FrmSetup::Picwell_MouseMove(double x, double y) {
  const auto before = editor_.rubber_band();
  if (const auto caption = editor_.move(x, y)) {
    lblnchannel->setText("Well: " + qs(*caption));
    const auto band = editor_.rubber_band();
    if (band && (!before || !(before->current == band->current))) draw_plate();
  }
}

void FrmSetup::Picwell_MouseUp(double x, double y, MouseButton button) {
  const bool was_dragging = editor_.dragging();
  if (editor_.release(x, y, button, drag_group()) || was_dragging) refresh_groups();
}

void FrmSetup::fill_annotation_panel() {
  annotations_.prepare_globals();
  for (int r = 0; r < kAnnotationRows; ++r) {
    const auto i = static_cast<std::size_t>(r);
    const GroupAnnotation& a = annotations_.group(annotations_.group_of_row(r));
    txt_group[i]->setText(QString::number(annotations_.group_of_row(r)));
    txt_compound[i]->setText(qs(a.compound));
    txt_strain[i]->setText(qs(a.strain));
    txt_org[i]->setText(qs(a.org_per_well));
    txt_buffer[i]->setText(qs(a.buffer));
    txt_conc[i]->setText(qs(a.concentration));
  }
  const std::array<std::tuple<QCheckBox*, QLineEdit*, AnnotationKind>, 3> globals = {
      std::tuple{Chk_global_strain, txt_global_strain, AnnotationKind::Strain},
      std::tuple{Chk_global_buffer, txt_global_buffer, AnnotationKind::Buffer},
      std::tuple{Chk_global_orgnum, txt_global_orgnum, AnnotationKind::OrgPerWell}};
  for (const auto& [box, text, kind] : globals) {
    const GlobalValue* g = annotations_.global(kind);
    box->setChecked(g->checked);
    text->setText(qs(g->value));
  }
}

bool FrmSetup::eventFilter(QObject* watched, QEvent* e) {
  const auto type = e->type();
  if (watched == Picwell && (type == QEvent::MouseButtonPress || type == QEvent::MouseMove ||
                             type == QEvent::MouseButtonRelease)) {
    const auto* m = static_cast<QMouseEvent*>(e);
    const auto [x, y] = plate_point(m->position());
    if (type == QEvent::MouseButtonPress)
      Picwell_MouseDown(x, y, mouse_button(m->button()));
    else if (type == QEvent::MouseMove)
      Picwell_MouseMove(x, y);
    else
      Picwell_MouseUp(x, y, mouse_button(m->button()));
    return true;
  }
  if (type == QEvent::MouseButtonDblClick) {
    if (watched == txt_snr) {
      txt_snr_DblClick();
      return true;
    }
    if (watched == txtprj) {
      txtprj_DblClick();
      return true;
    }
    if (watched == combogrup) {
      if (editor_.rename_current(host_.dialogs())) refresh_groups();
      return true;
    }
  }
  if (type == QEvent::FocusOut && watched == lbl_snr) lbl_snr_LostFocus();
  if (type == QEvent::KeyPress) {
    const int key = static_cast<QKeyEvent*>(e)->key();
    if (key == Qt::Key_Return || key == Qt::Key_Enter) {
      if (watched == combogrup) {
        if (editor_.rename_current(host_.dialogs())) refresh_groups();
        return true;
      }
      if (watched == lstchgrup) {
        Command12_Click();
        return true;
      }
      if (watched == lstgrup) {
        Command13_Click();
        return true;
      }
    }
  }
  return QMainWindow::eventFilter(watched, e);
}

} // namespace kestrova::setup_editor
