#include "reports/report_window.hpp"

#include <QButtonGroup>
#include <QEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QVBoxLayout>
#include <algorithm>
#include <set>

#include "reports/automatic_report.hpp"
#include "reports/reanalysis.hpp"
#include "reports/well_export.hpp"
#include "ui/qt_text.hpp"

namespace kestrova::reports {

namespace {
// The bin sizes the report windows offer, in minutes.
constexpr int kBinEntries[] = {5, 15, 30, 60, 120, 180, 240, 360, 480, 720, 1440};

using ui::qs;

// A threshold as the boxes show it: one decimal, "." as the separator.
QString threshold_text(double value) { return QString::number(value, 'f', 1).replace(',', '.'); }

bool has_histogram_files(const std::filesystem::path& folder) {
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind("histo", 0) == 0 && entry.path().extension() == ".bin") return true;
  }
  return false;
}

// Acquisition folders are named yyyymmdd_hhmm, a station's with a suffix such as "_s2"; basal
// choices name them by those 13 characters.
constexpr std::size_t kAcquisitionNameLength = 13;
} // namespace

FrmReport::FrmReport(ReportConfig& config, ReportServices services, QWidget* parent)
    : QWidget(parent, Qt::Window), config_(config), services_(services) {
  setObjectName("frm_report");
  setWindowTitle("Report Output");
  auto* root = new QVBoxLayout(this);
  menu = new QMenuBar(this);
  mnadvance = menu->addMenu("Advanced");
  mnrecalculate = mnadvance->addAction("Analyze Raw Data");
  mncircadian = mnadvance->addAction("1 file/well Report");
  root->setMenuBar(menu);

  Txt_inputfile = new QLineEdit(this);
  Txt_inputfile->setObjectName("Txt_inputfile");
  Txt_inputfile->hide();

  auto* grid = new QGridLayout;
  auto* types = new QButtonGroup(this);
  const char* type_captions[] = {"[.csv]", "Text [.txt]", "Excel [.xlsx]"};
  for (int i = 0; i < 3; ++i) {
    Option_report[i] = new QRadioButton(type_captions[i]);
    Option_report[i]->setObjectName(QString("Option_report_%1").arg(i));
    types->addButton(Option_report[i], i);
    grid->addWidget(Option_report[i], 0, i);
    connect(Option_report[i], &QRadioButton::toggled, this, [this, i](bool on) {
      if (!on) return;
      txt_customspacer->setText(i == 0 ? qs(current_list_separator()) : QString(" "));
    });
  }
  grid->addWidget(new QLabel("spacer ="), 0, 3);
  txt_customspacer = new QLineEdit;
  txt_customspacer->setObjectName("txt_customspacer");
  txt_customspacer->setMaximumWidth(60);
  grid->addWidget(txt_customspacer, 0, 4);

  grid->addWidget(new QLabel("Output format:"), 1, 0);
  auto* layouts = new QButtonGroup(this);
  const char* layout_captions[] = {"Rows", "List", "W.Array", "CH.Array",
                                   "Histogram Body_bends (experimental)"};
  for (int i = 0; i < 5; ++i) {
    Option_output[i] = new QRadioButton(layout_captions[i]);
    Option_output[i]->setObjectName(QString("Option_output_%1").arg(i));
    layouts->addButton(Option_output[i], i);
    if (i < 4)
      grid->addWidget(Option_output[i], 2, i);
    else
      grid->addWidget(Option_output[i], 3, 0, 1, 4);
  }
  Option_output[4]->hide();

  grid->addWidget(new QLabel("Bin size (min):"), 4, 0);
  Cmb_binsize = new QComboBox;
  Cmb_binsize->setObjectName("Cmb_binsize");
  Cmb_binsize->setEditable(true);
  grid->addWidget(Cmb_binsize, 4, 1);
  grid->addWidget(new QLabel("Basal Meassure:"), 4, 2);
  cmbbasal = new QComboBox;
  cmbbasal->setObjectName("cmbbasal");
  cmbbasal->setEditable(true);
  grid->addWidget(cmbbasal, 4, 3, 1, 2);

  grid->addWidget(new QLabel("Group Statistics:"), 5, 0);
  const char* stat_captions[] = {"Average", "Median", "Std Error", "Std Dev", "N"};
  for (int i = 0; i < 5; ++i) {
    Chk_statistic[i] = new QCheckBox(stat_captions[i]);
    Chk_statistic[i]->setObjectName(QString("Chk_statistic_%1").arg(i));
    grid->addWidget(Chk_statistic[i], 6, i);
  }
  root->addLayout(grid);

  auto* buttons = new QHBoxLayout;
  Cmd_generate = new QPushButton("Generate...");
  Cmd_generate->setObjectName("Cmd_generate");
  Cmd_generate->setToolTip("Export REPORT File");
  Cmd_cancel = new QPushButton("Cancel");
  Cmd_cancel->setObjectName("Cmd_cancel");
  chk_autoreport = new QCheckBox("Autoreport");
  chk_autoreport->setObjectName("chk_autoreport");
  buttons->addWidget(Cmd_generate);
  buttons->addWidget(Cmd_cancel);
  buttons->addWidget(chk_autoreport);
  root->addLayout(buttons);

  progress = new QProgressBar;
  progress->setObjectName("progress");
  progress->setRange(0, 1);
  progress->setValue(0);
  progress->setTextVisible(false);
  lbl_status = new QLabel;
  lbl_status->setObjectName("lbl_status");
  root->addWidget(progress);
  root->addWidget(lbl_status);

  Frame_run = new QGroupBox("Raw data processing:");
  Frame_run->setObjectName("Frame_run");
  auto* frame = new QGridLayout(Frame_run);
  frame->addWidget(new QLabel("Re-Calculate from Real time Data:"), 0, 0, 1, 4);
  frame->addWidget(new QLabel("Method:"), 1, 0);
  Cmb_dspmethod = new QComboBox;
  Cmb_dspmethod->setObjectName("Cmb_dspmethod");
  frame->addWidget(Cmb_dspmethod, 1, 1, 1, 3);
  frame->addWidget(new QLabel("Organism:"), 2, 0);
  Cmb_organism = new QComboBox;
  Cmb_organism->setObjectName("Cmb_organism");
  frame->addWidget(Cmb_organism, 2, 1, 1, 3);
  frame->addWidget(new QLabel("Threshold:"), 3, 0);
  frmtxt_threshold = new QLineEdit;
  frmtxt_threshold->setObjectName("frmtxt_threshold");
  frmtxt_threshold->installEventFilter(this);
  frame->addWidget(frmtxt_threshold, 3, 1);
  frame->addWidget(new QLabel("SNR"), 3, 2);
  frame->addWidget(new QLabel("Analyze:"), 4, 0);
  frmtxt_datalapse = new QLineEdit("24");
  frmtxt_datalapse->setObjectName("frmtxt_datalapse");
  frame->addWidget(frmtxt_datalapse, 4, 1);
  frame->addWidget(new QLabel("hs"), 4, 2);
  Chk_replacedata = new QCheckBox("Replace old data");
  Chk_replacedata->setObjectName("Chk_replacedata");
  Chk_rawexport = new QCheckBox("Export Raw");
  Chk_rawexport->setObjectName("Chk_rawexport");
  frame->addWidget(Chk_replacedata, 5, 0, 1, 2);
  frame->addWidget(Chk_rawexport, 5, 2, 1, 2);
  cmd_runframe = new QPushButton("RUN");
  cmd_runframe->setObjectName("cmd_runframe");
  cmd_stopframe = new QPushButton("STOP");
  cmd_stopframe->setObjectName("cmd_stopframe");
  frame->addWidget(cmd_runframe, 6, 0);
  frame->addWidget(cmd_stopframe, 6, 1);
  frmlbl_status = new QLabel("Block xx/xx");
  frmlbl_status->setObjectName("frmlbl_status");
  frame->addWidget(frmlbl_status, 6, 2, 1, 2);
  root->addWidget(Frame_run);
  root->addStretch(); // a larger window keeps its controls together at the top
  Frame_run->hide();

  connect(Cmd_generate, &QPushButton::clicked, this, [this] { Cmd_generate_Click(); });
  connect(Cmd_cancel, &QPushButton::clicked, this, &FrmReport::Cmd_cancel_Click);
  connect(mnrecalculate, &QAction::triggered, this, &FrmReport::mnrecalculate_Click);
  connect(mncircadian, &QAction::triggered, this, &FrmReport::mncircadian_Click);
  connect(cmd_runframe, &QPushButton::clicked, this, &FrmReport::cmd_runframe_Click);
  connect(cmd_stopframe, &QPushButton::clicked, this, &FrmReport::cmd_stopframe_Click);
  connect(Cmb_organism, &QComboBox::activated, this, &FrmReport::organism_chosen);
  connect(Chk_rawexport, &QCheckBox::toggled, this, [this](bool on) {
    if (!on) return;
    Chk_replacedata->setChecked(false);
    frmtxt_datalapse->setText("533");
  });
  connect(Chk_replacedata, &QCheckBox::toggled, this,
          [this](bool on) { frmtxt_datalapse->setEnabled(!on); });
}

void FrmReport::Form_Load() {
  Cmb_binsize->clear();
  for (int m : kBinEntries)
    Cmb_binsize->addItem(QString::number(m));
  txt_customspacer->setText(qs(current_list_separator()));
  Cmb_dspmethod->clear();
  for (std::string_view name : detection_method_names())
    Cmb_dspmethod->addItem(qs(name));
  Cmb_dspmethod->setEnabled(true);
  Cmb_dspmethod->setCurrentIndex(0);
  Cmb_organism->clear();
  for (std::string_view name : organism_names())
    Cmb_organism->addItem(qs(name));
  Cmb_organism->setEnabled(true);
  Cmb_organism->setCurrentIndex(0);
  config_.load_for_report(services_.dialogs);
  const ReportSettings& settings = config_.settings();
  Cmb_binsize->addItem(QString::number(settings.Bin));
  Cmb_binsize->setCurrentIndex(Cmb_binsize->count() - 1);
  Option_report[settings.filetype == 1 ? 1 : 0]->setChecked(true);
  txt_customspacer->setText(qs(settings.spacer));
  Option_output[settings.out_format >= 0 && settings.out_format < 4 ? settings.out_format : 0]
      ->setChecked(true);
  Chk_statistic[2]->setChecked(settings.stdError == 1);
  Chk_statistic[3]->setChecked(settings.stdDev == 1);
  Chk_statistic[4]->setChecked(settings.n == 1);
  if (settings.method >= 0 && settings.method < Cmb_dspmethod->count())
    Cmb_dspmethod->setCurrentIndex(settings.method);
  if (settings.organism >= 0 && settings.organism < Cmb_organism->count()) {
    Cmb_organism->setCurrentIndex(settings.organism);
    organism_chosen(settings.organism);
  }
  frmtxt_threshold->setText(threshold_text(settings.threshold / 10.0));
  Chk_rawexport->setChecked(settings.rawexport == 1);
  in_memory_ = false;
  setting_text_.clear();
  if (!Txt_inputfile->text().isEmpty() && has_histogram_files(folder())) {
    Option_output[4]->show();
    Option_output[4]->setChecked(true);
  }
}

bool FrmReport::open_for(const std::filesystem::path& folder, bool histogram_option) {
  if (running_) {
    show();
    raise();
    return false;
  }
  Form_Load();
  setWindowTitle("Report Output");
  Txt_inputfile->setText(QString::fromStdString(folder.string()));
  if (histogram_option || has_histogram_files(folder)) {
    Option_output[4]->show();
    Option_output[4]->setChecked(true);
  } else {
    Option_output[4]->hide();
    if (Option_output[4]->isChecked()) Option_output[0]->setChecked(true);
  }
  fill_basal_list(folder);
  show();
  raise();
  return true;
}

bool FrmReport::open_for(const std::filesystem::path& folder, bool histogram_option,
                         std::string_view caption, const std::vector<std::string>& basal_choices) {
  if (!open_for(folder, histogram_option)) return false;
  setWindowTitle(qs(caption));
  cmbbasal->clear();
  for (const std::string& choice : basal_choices)
    cmbbasal->addItem(qs(choice));
  cmbbasal->setCurrentIndex(0);
  return true;
}

void FrmReport::fill_basal_list(const std::filesystem::path& folder) {
  cmbbasal->clear();
  cmbbasal->addItem("-");
  const std::string own = folder.filename().string().substr(0, kAcquisitionNameLength);
  std::set<std::string> names; // in name order, which is the order of their start
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder.parent_path(), ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() < kAcquisitionNameLength) continue;
    const std::string base = name.substr(0, kAcquisitionNameLength);
    if (base == own || !entry.is_directory(ec)) continue;
    if (!std::filesystem::is_regular_file(entry.path() / "counts.bin", ec)) continue;
    names.insert(base);
  }
  for (const std::string& name : names)
    cmbbasal->addItem(QString::fromStdString(name));
  cmbbasal->setCurrentIndex(0);
}

std::filesystem::path FrmReport::folder() const {
  return std::filesystem::path(Txt_inputfile->text().toStdString());
}

GenerateRequest FrmReport::request_from_controls() const {
  GenerateRequest request;
  request.acquisition_folder = folder();
  request.data_folder = data_folder();
  request.settings = config_.settings();
  request.settings.Bin = Cmb_binsize->currentText().trimmed().toInt();
  request.settings.spacer = txt_customspacer->text().toStdString();
  request.settings.stdError = Chk_statistic[2]->isChecked() ? 1 : 0;
  request.settings.stdDev = Chk_statistic[3]->isChecked() ? 1 : 0;
  request.settings.n = Chk_statistic[4]->isChecked() ? 1 : 0;
  for (int i = 0; i < 3; ++i)
    if (Option_report[i]->isChecked()) request.file_type = static_cast<ReportFileType>(i);
  for (int i = 0; i < 5; ++i)
    if (Option_output[i]->isChecked()) request.layout = static_cast<ReportLayout>(i);
  request.basal_choice = cmbbasal->currentText().toStdString();
  request.autoreport = chk_autoreport->isChecked();
  request.open_result = !request.autoreport;
  return request;
}

void FrmReport::set_busy(bool busy) {
  running_ = busy;
  // STOP stays available; everything that would start other work waits.
  Cmd_generate->setEnabled(!busy);
  Cmd_cancel->setEnabled(!busy);
  cmd_runframe->setEnabled(!busy);
  mnadvance->setEnabled(!busy);
  // A range of 0..0 makes the bar move while the work runs.
  progress->setRange(0, busy ? 0 : 1);
  progress->setValue(busy ? 0 : 1);
  services_.pump.process_events();
}

GenerateResult FrmReport::Cmd_generate_Click() {
  if (running_) return {};
  GenerateRequest request = request_from_controls();
  if (in_memory_) request.setting_text = setting_text_;
  in_memory_ = false;
  lbl_status->setText("Generating report...");
  set_busy(true);
  GenerateResult result = generate_report(request, services_);
  set_busy(false);
  if (result.bin > 0) Cmb_binsize->setCurrentText(QString::number(result.bin));
  lbl_status->setText(
      result.ok
          ? QString("Report written: %1").arg(QString::fromStdString(result.result().string()))
          : QString("No report written"));
  last_ = result;
  return result;
}

void FrmReport::Cmd_cancel_Click() {
  cmbbasal->clear();
  Frame_run->hide();
  hide();
}

void FrmReport::mnrecalculate_Click() {
  if (!std::filesystem::exists(folder() / "0.bin")) {
    services_.dialogs.message(kRealtimeNotFound);
    return;
  }
  Frame_run->show();
}

void FrmReport::mncircadian_Click() {
  if (running_) return;
  using common::Answer;
  using common::Buttons;
  using common::Icon;
  common::Dialogs& dialogs = services_.dialogs;
  if (dialogs.message("Do you like to Export 384 text files?", Buttons::YesNo, Icon::Question) !=
      Answer::Yes)
    return;
  WellExportRequest request;
  request.time_stamps =
      dialogs.message("Include time field?", Buttons::YesNo, Icon::Question) == Answer::Yes;
  request.acquisition_folder = folder();
  request.data_folder = data_folder();
  request.bin = Cmb_binsize->currentText().trimmed().toInt();
  request.now = common::to_civil(services_.clock.now());
  lbl_status->setText("Writing one file per well...");
  set_busy(true);
  const WellExportResult result = export_well_series(request, dialogs);
  set_busy(false);
  if (result.bin > 0) Cmb_binsize->setCurrentText(QString::number(result.bin));
  if (!result.ok) {
    lbl_status->setText("No files written");
    return;
  }
  lbl_status->setText(QString("%1 files of %2 bins written")
                          .arg(static_cast<qsizetype>(result.files.size()))
                          .arg(result.bins));
  services_.shell.open(request.acquisition_folder);
}

std::optional<GenerateResult> FrmReport::run_autoreport(bool announce) {
  if (running_) return std::nullopt;
  chk_autoreport->setChecked(true);
  setEnabled(false);
  AutomaticReportRequest request;
  request.report = request_from_controls();
  request.method = Cmb_dspmethod->currentIndex();
  request.organism = Cmb_organism->currentIndex();
  request.threshold_text = frmtxt_threshold->text().toStdString();
  request.raw_export = config_.settings().rawexport == 1;
  request.announce = announce;
  in_memory_ = false;
  lbl_status->setText("Generating report...");
  set_busy(true);
  ReanalysisControl control;
  control.show_status = [this](std::string_view status) { frmlbl_status->setText(qs(status)); };
  const AutomaticReportResult result = run_automatic_report(request, services_, control);
  set_busy(false);
  if (result.report.bin > 0) Cmb_binsize->setCurrentText(QString::number(result.report.bin));
  lbl_status->setText(result.report.ok
                          ? QString("Report written: %1")
                                .arg(QString::fromStdString(result.report.result().string()))
                          : QString("No report written"));
  last_ = result.report;
  if (result.raw_export) last_run_ = result.raw_export;
  chk_autoreport->setChecked(false);
  setEnabled(true);
  hide();
  return result.report;
}

void FrmReport::cmd_runframe_Click() {
  if (running_) return;
  frmlbl_status->show();
  stop_requested_ = false;
  ReanalysisRequest request;
  request.report = request_from_controls();
  request.method = Cmb_dspmethod->currentIndex();
  request.organism = Cmb_organism->currentIndex();
  request.threshold_text = frmtxt_threshold->text().toStdString();
  request.replace = Chk_replacedata->isChecked();
  request.export_raw = Chk_rawexport->isChecked();
  if (!request.replace) {
    bool ok = false;
    const double hours = frmtxt_datalapse->text().replace(',', '.').toDouble(&ok);
    request.hours = ok ? hours : 0.0;
  }
  ReanalysisControl control;
  control.show_status = [this](std::string_view status) { frmlbl_status->setText(qs(status)); };
  control.stop_requested = [this] { return stop_requested_; };
  control.progress = [this](std::int64_t done, std::int64_t total) {
    if (progress->maximum() != total)
      progress->setRange(0, static_cast<int>(std::min<std::int64_t>(total, 1 << 30)));
    progress->setValue(static_cast<int>(std::min<std::int64_t>(done, 1 << 30)));
  };
  lbl_status->setText("Analysing the real-time data...");
  set_busy(true);
  ReanalysisResult result = run_reanalysis(request, services_, control);
  set_busy(false);
  last_run_ = result.outcome;
  using Outcome = ReanalysisResult::Outcome;
  lbl_status->setText(result.outcome == Outcome::Done      ? QString("Re-analysis done")
                      : result.outcome == Outcome::Stopped ? QString("Re-analysis stopped")
                                                           : QString("Re-analysis failed"));
  if (result.bin > 0) Cmb_binsize->setCurrentText(QString::number(result.bin));
  in_memory_ = result.ok() && result.in_memory;
  setting_text_ = in_memory_ ? result.setting_text : std::string();
  if (result.ok()) last_ = result.report;
}

void FrmReport::organism_chosen(int organism) {
  frmtxt_threshold->setText(qs(organism_threshold_text(organism)));
  if (const std::optional<int> method = organism_method(organism))
    Cmb_dspmethod->setCurrentIndex(*method);
}

void FrmReport::check_threshold() {
  const int organism = Cmb_organism->currentIndex();
  bool ok = false;
  const double value = frmtxt_threshold->text().replace(',', '.').toDouble(&ok);
  if (!ok || !threshold_in_range(organism, value))
    frmtxt_threshold->setText(organism == 3 ? "0.8" : "1.8");
}

bool FrmReport::eventFilter(QObject* watched, QEvent* event) {
  if (watched == frmtxt_threshold && event->type() == QEvent::FocusOut) check_threshold();
  return QWidget::eventFilter(watched, event);
}

} // namespace kestrova::reports
