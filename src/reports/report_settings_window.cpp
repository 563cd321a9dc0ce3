#include "reports/report_settings_window.hpp"
#include "ui/qt_text.hpp"

#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace kestrova::reports {

namespace {
// The bin sizes the report windows offer, in minutes.
constexpr int kBinEntries[] = {5, 15, 30, 60, 120, 180, 240, 360, 480, 720, 1440};

using ui::qs;
} // namespace

FrmReportSet::FrmReportSet(ReportConfig& config, common::Dialogs& dialogs,
                           std::function<void()> on_done, QWidget* parent)
    : QWidget(parent, Qt::Window), config_(config), dialogs_(dialogs),
      on_done_(std::move(on_done)) {
  setObjectName("frm_reportset");
  setWindowTitle("[User Defined Report]");
  auto* root = new QVBoxLayout(this);
  root->addWidget(new QLabel("Set Report Options:"));

  auto* top = new QGridLayout;
  top->addWidget(new QLabel("Bin size (min):"), 0, 0);
  Cmb_binsize = new QComboBox;
  Cmb_binsize->setObjectName("Cmb_binsize");
  Cmb_binsize->setEditable(true);
  top->addWidget(Cmb_binsize, 0, 1);
  auto* types = new QButtonGroup(this);
  const char* type_captions[] = {"Excel [.csv]", "Text [.txt]"};
  for (int i = 0; i < 2; ++i) {
    Option_report[i] = new QRadioButton(type_captions[i]);
    Option_report[i]->setObjectName(QString("Option_report_%1").arg(i));
    types->addButton(Option_report[i], i);
    top->addWidget(Option_report[i], 1, i);
  }
  top->addWidget(new QLabel("spacer ="), 2, 0);
  txt_customspacer = new QLineEdit;
  txt_customspacer->setObjectName("txt_customspacer");
  top->addWidget(txt_customspacer, 2, 1);
  root->addLayout(top);

  auto* output = new QGroupBox("Output format:");
  auto* output_row = new QHBoxLayout(output);
  auto* layouts = new QButtonGroup(this);
  const char* layout_captions[] = {"Rows", "List", "WArray", "CHArray"};
  for (int i = 0; i < 4; ++i) {
    Option_output[i] = new QRadioButton(layout_captions[i]);
    Option_output[i]->setObjectName(QString("Option_output_%1").arg(i));
    layouts->addButton(Option_output[i], i);
    output_row->addWidget(Option_output[i]);
  }
  root->addWidget(output);

  auto* stats = new QGroupBox("Group Statistics:");
  auto* stats_row = new QHBoxLayout(stats);
  const char* stat_captions[] = {"Average", "Median", "Std Error", "Std Dev", "N"};
  for (int i = 0; i < 5; ++i) {
    Chk_statistic[i] = new QCheckBox(stat_captions[i]);
    Chk_statistic[i]->setObjectName(QString("Chk_statistic_%1").arg(i));
    stats_row->addWidget(Chk_statistic[i]);
  }
  root->addWidget(stats);

  Chk_rawexport = new QCheckBox("Export Raw");
  Chk_rawexport->setObjectName("Chk_rawexport");
  Chk_autofile = new QCheckBox("Auto-Generate after measurement");
  Chk_autofile->setObjectName("Chk_autofile");
  root->addWidget(Chk_rawexport);
  root->addWidget(Chk_autofile);

  auto* buttons = new QHBoxLayout;
  Cmd_generate = new QPushButton("Apply");
  Cmd_generate->setObjectName("Cmd_generate");
  Cmd_cancel = new QPushButton("Back to Default");
  Cmd_cancel->setObjectName("Cmd_cancel");
  buttons->addWidget(Cmd_generate);
  buttons->addWidget(Cmd_cancel);
  root->addLayout(buttons);
  root->addStretch(); // a larger window keeps its controls together at the top

  connect(Cmd_generate, &QPushButton::clicked, this, &FrmReportSet::Cmd_generate_Click);
  connect(Cmd_cancel, &QPushButton::clicked, this, &FrmReportSet::Cmd_cancel_Click);
}

void FrmReportSet::Form_Load() {
  Cmb_binsize->clear();
  for (int m : kBinEntries)
    Cmb_binsize->addItem(QString::number(m));
  txt_customspacer->setText(qs(current_list_separator()));
  config_.load(1, dialogs_);
  const ReportSettings& settings = config_.settings();
  // The stored bin is added even when the list has it, and shown as the text.
  Cmb_binsize->addItem(QString::number(settings.Bin));
  Cmb_binsize->setCurrentIndex(Cmb_binsize->count() - 1);
  Option_report[settings.filetype == 1 ? 1 : 0]->setChecked(true);
  Option_output[settings.out_format >= 0 && settings.out_format < 4 ? settings.out_format : 0]
      ->setChecked(true);
  txt_customspacer->setText(qs(settings.spacer));
  Chk_statistic[2]->setChecked(settings.stdError == 1);
  Chk_statistic[3]->setChecked(settings.stdDev == 1);
  Chk_statistic[4]->setChecked(settings.n == 1);
  Chk_rawexport->setChecked(settings.rawexport == 1);
}

void FrmReportSet::Cmd_generate_Click() {
  bool whole = false;
  const int bin = Cmb_binsize->currentText().trimmed().toInt(&whole);
  // A bin that is not a whole number leaves the settings as they were.
  if (!whole) return;
  const std::string spacer = txt_customspacer->text().toStdString();
  if (const auto problem = separator_problem(spacer)) {
    dialogs_.message(*problem);
    return;
  }
  // Organism, method and threshold are not on this window: they stay as stored.
  ReportSettings settings = config_.settings();
  settings.Bin = bin;
  settings.filetype = Option_report[1]->isChecked() ? 1 : 0;
  settings.spacer = spacer;
  for (int i = 0; i < 4; ++i)
    if (Option_output[i]->isChecked()) settings.out_format = i;
  settings.stdError = Chk_statistic[2]->isChecked() ? 1 : 0;
  settings.stdDev = Chk_statistic[3]->isChecked() ? 1 : 0;
  settings.n = Chk_statistic[4]->isChecked() ? 1 : 0;
  settings.rawexport = Chk_rawexport->isChecked() ? 1 : 0;
  config_.apply(settings, dialogs_);
  dialogs_.message(kUserConfigApplied);
  hide();
  if (on_done_) on_done_();
}

void FrmReportSet::Cmd_cancel_Click() {
  config_.back_to_default(dialogs_);
  dialogs_.message(kDefaultConfigApplied);
  hide();
  if (on_done_) on_done_();
}

} // namespace kestrova::reports
