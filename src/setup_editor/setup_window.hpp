#pragma once

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>
#include <array>
#include <optional>

#include "setup_editor/annotations.hpp"
#include "setup_editor/group_editor.hpp"
#include "setup_editor/setup_host.hpp"
#include "ui/picture_box.hpp"

namespace kestrova::setup_editor {

// The setup window: plate format, groups of wells on the plate map, per-group annotations,
// the project (new, save, rename, load) and the acquisition and detection parameters. Every
// control writes straight into the current-project state; only the project save writes files.
class FrmSetup final : public QMainWindow {
  Q_OBJECT

public:
  explicit FrmSetup(SetupHost& host);

  // --- Menus ---
  QAction* mn_advanced = nullptr; // "Advanced Tools"
  QMenu* mn_group_action = nullptr;
  QAction* mnren_group = nullptr;
  QAction* mn_groupclr = nullptr;
  QMenu* mngroup = nullptr;
  std::array<QAction*, 24> mnopciongrup{};

  // --- Plate map and groups ---
  QFrame* frm_plate = nullptr;
  ui::PictureBox* Picwell = nullptr;
  QFrame* frm_groups = nullptr;
  QComboBox* combogrup = nullptr;
  QListWidget* lstgrup = nullptr;
  QListWidget* lstchgrup = nullptr;
  QPushButton* Command12 = nullptr; // "<="
  QPushButton* Command13 = nullptr; // "=>"
  QPushButton* Cmd_clear = nullptr;
  QPushButton* cmd_goset = nullptr;
  QComboBox* Combo_sets = nullptr;
  QLabel* lblnchannel = nullptr;
  QCheckBox* chk_advance = nullptr;
  std::array<QRadioButton*, 4> plate_option{}; // "STATION", kept hidden

  // --- Annotation panel ---
  QFrame* frm_advance = nullptr;
  std::array<QLineEdit*, kAnnotationRows> txt_group{};
  std::array<QRadioButton*, kAnnotationRows> adv_group{};
  std::array<QLineEdit*, kAnnotationRows> txt_compound{}, txt_strain{}, txt_org{}, txt_buffer{},
      txt_conc{};
  QPushButton* cmd_up = nullptr;
  QPushButton* cmd_down = nullptr;
  QComboBox* combo_tool = nullptr;
  QLineEdit* txt_global = nullptr;
  QPushButton* cmd_fill = nullptr;
  QPushButton* cmd_setglobal = nullptr;
  QCheckBox* Chk_global_strain = nullptr;
  QCheckBox* Chk_global_buffer = nullptr;
  QCheckBox* Chk_global_orgnum = nullptr;
  QLineEdit* txt_global_strain = nullptr;
  QLineEdit* txt_global_buffer = nullptr;
  QLineEdit* txt_global_orgnum = nullptr;
  QPushButton* cmd_annot_web = nullptr;
  QPushButton* cmd_sync = nullptr;   // no behaviour
  QLineEdit* txt_annot_id = nullptr; // no behaviour

  // --- Project and parameters ---
  QGroupBox* Frame_setup = nullptr;
  QLineEdit* txtprj = nullptr;
  QPushButton* Cmdnewpj = nullptr;
  QPushButton* Cmdsavepj = nullptr;
  QPushButton* cmdLoad = nullptr;
  QLineEdit* Txtfolder = nullptr;
  QComboBox* Combowell = nullptr;
  QLineEdit* Txtlapse = nullptr;
  QComboBox* Combo_aqmode = nullptr;
  QGroupBox* Frame_extra = nullptr;
  QLineEdit* Txtsample = nullptr;
  QLineEdit* Txtbuffer = nullptr;
  QLineEdit* Txt_dspinterval = nullptr;
  QComboBox* ComboDSP = nullptr;
  QComboBox* Cmb_organism = nullptr;
  QPushButton* txt_snr = nullptr; // the "SNR" caption; double-click enables lbl_snr
  QLineEdit* lbl_snr = nullptr;
  QGroupBox* Frame_advanced = nullptr;
  QComboBox* Combosavecount = nullptr;
  QComboBox* Combosavereal = nullptr;
  QCheckBox* chkcalib = nullptr;
  QCheckBox* chklight = nullptr;
  QCheckBox* chktemp = nullptr;
  QCheckBox* Chk_mn4 = nullptr;
  QCheckBox* Chk_mn5 = nullptr;
  QCheckBox* Chk_mn6 = nullptr;
  QFrame* frm_notes = nullptr;
  QPlainTextEdit* Txt_description = nullptr;
  QFrame* frm_project = nullptr;
  QListWidget* List_project = nullptr;
  QPushButton* Cmd_cancel = nullptr;
  QPushButton* Command_main = nullptr; // "Continue to Run..."
  QPushButton* Cmdoffline = nullptr;   // "< Back"
  QTimer* Timer1 = nullptr;

  // Handlers.
  void Form_Load();
  void Form_Resize();
  void Command_main_Click();
  void Cmdoffline_Click();
  void Timer1_Timer();
  void mn_advanced_Click();
  void txt_snr_DblClick();
  void lbl_snr_LostFocus();
  void Cmdnewpj_Click();
  void Cmdsavepj_Click();
  void txtprj_DblClick();
  void cmdLoad_Click();
  void List_project_DblClick();
  void Cmd_clear_Click();
  void mnopciongrup_Click(int index);
  void Command12_Click(); // free well into the current group
  void Command13_Click(); // well of the group made free
  void Picwell_MouseDown(double x, double y, MouseButton button);
  void Picwell_MouseMove(double x, double y);
  void Picwell_MouseUp(double x, double y, MouseButton button);

  // Rebuilds the group list and both well lists and redraws the plate.
  void refresh_groups();
  // The world point of a pixel of Picwell.
  std::pair<double, double> plate_point(QPointF pixel) const;
  GroupEditor& editor() { return editor_; }
  Annotations& annotations() { return annotations_; }

protected:
  void resizeEvent(QResizeEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void build_menus();
  void build_plate_and_groups();
  void build_annotations();
  void build_project_frames();
  void build_bottom();
  void connect_handlers();
  void show_project_box();
  void fill_set_sizes();
  void fill_annotation_panel();
  void draw_plate();
  // The detection line, signal-to-noise box and organism of the main window (and its notes
  // when `with_notes`).
  void hand_over_to_main(bool with_notes);
  // The group a drag assigns: the annotation row chosen while that panel shows, else the
  // current group.
  int drag_group() const;
  void move_well(QListWidget* list, bool into_group);

  SetupHost& host_;
  GroupEditor editor_;
  Annotations annotations_;
  bool checking_snr_ = false;
  QWidget* client_ = nullptr;
  QLabel* label_bottom_ = nullptr;
};

} // namespace kestrova::setup_editor
