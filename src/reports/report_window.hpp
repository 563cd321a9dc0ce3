#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <array>
#include <filesystem>
#include <optional>
#include <string>

#include "reports/generate_report.hpp"
#include "reports/report_settings.hpp"

namespace kestrova::reports {

// The report window "Report Output" for one acquisition folder: the report's file type, layout,
// bin, statistics and basal acquisition, "Generate...", and under "Advanced" the raw-data
// re-analysis frame with RUN and STOP. Long work lets window events run through the services'
// pump, so the window stays responsive and STOP is seen after each record.
class FrmReport final : public QWidget {
public:
  // `user_defined()` tells whether the main window's "User Defined BIN size" is checked.
  FrmReport(const std::filesystem::path& data_folder, ReportServices services,
            std::function<bool()> user_defined, QWidget* parent = nullptr);

  // The window's load: lists, settings from repoconf.dat, in-memory re-analysis cleared.
  void Form_Load();
  // Opens the window on `folder` with the histogram layout offered or not.
  void open_for(const std::filesystem::path& folder, bool histogram_option);

  // "Generate...": the report with the window's choices.
  GenerateResult Cmd_generate_Click();
  void Cmd_cancel_Click();
  void mnrecalculate_Click(); // "Analyze Raw Data"
  void mncircadian_Click();   // "1 file/well Report"
  void cmd_runframe_Click();  // "RUN"
  void cmd_stopframe_Click() { stop_requested_ = true; }

  QMenuBar* menu = nullptr;
  QMenu* mnadvance = nullptr;
  QAction* mnrecalculate = nullptr;
  QAction* mncircadian = nullptr;
  QLineEdit* Txt_inputfile = nullptr; // hidden: the acquisition folder
  std::array<QRadioButton*, 3> Option_report{};
  QLineEdit* txt_customspacer = nullptr;
  std::array<QRadioButton*, 5> Option_output{};
  QComboBox* Cmb_binsize = nullptr;
  std::array<QCheckBox*, 5> Chk_statistic{};
  QComboBox* cmbbasal = nullptr;
  QPushButton* Cmd_generate = nullptr;
  QPushButton* Cmd_cancel = nullptr;
  QCheckBox* chk_autoreport = nullptr;
  QProgressBar* progress = nullptr;
  QLabel* lbl_status = nullptr;
  QGroupBox* Frame_run = nullptr;
  QComboBox* Cmb_dspmethod = nullptr;
  QComboBox* Cmb_organism = nullptr;
  QLineEdit* frmtxt_threshold = nullptr;
  QLineEdit* frmtxt_datalapse = nullptr;
  QCheckBox* Chk_replacedata = nullptr;
  QCheckBox* Chk_rawexport = nullptr;
  QPushButton* cmd_runframe = nullptr;
  QPushButton* cmd_stopframe = nullptr;
  QLabel* frmlbl_status = nullptr;

  const std::optional<GenerateResult>& last_result() const { return last_; }

protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

private:
  std::filesystem::path folder() const;
  GenerateRequest request_from_controls() const;
  void organism_chosen(int organism);
  void check_threshold();
  void set_busy(bool busy);

  const std::filesystem::path& data_folder_; // the data folder, which may be set later
  ReportServices services_;
  std::function<bool()> user_defined_;
  ReportSettings settings_;
  bool stop_requested_ = false;
  bool in_memory_ = false;   // the last RUN kept its counts in memory
  std::string setting_text_; // the SETTING: text of that RUN
  std::optional<GenerateResult> last_;
};

} // namespace kestrova::reports
