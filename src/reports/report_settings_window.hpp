#pragma once

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QWidget>
#include <array>
#include <filesystem>
#include <functional>

#include "common/dialogs.hpp"
#include "reports/report_config.hpp"

namespace kestrova::reports {

inline constexpr const char* kUserConfigApplied = "User Configuration Applied";
inline constexpr const char* kDefaultConfigApplied = "Default Report Configuration Applied";

// The report settings window "[User Defined Report]": edits the program's report settings.
// "Apply" puts the user configuration in force, "Back to Default" the defaults (both stored in
// repoconf.dat); whoever observes the settings (the main window's "User Defined BIN size" mark
// and bin list, the end of an acquisition) follows at once. Both then hide the window and call
// `on_done` (which shows the main window).
class FrmReportSet final : public QWidget {
public:
  FrmReportSet(ReportConfig& config, common::Dialogs& dialogs, std::function<void()> on_done,
               QWidget* parent = nullptr);

  // Fills the controls from the stored settings (the window's load).
  void Form_Load();
  void Cmd_generate_Click(); // "Apply"
  void Cmd_cancel_Click();   // "Back to Default"

  const ReportSettings& settings() const { return config_.settings(); }

  QComboBox* Cmb_binsize = nullptr;
  std::array<QRadioButton*, 2> Option_report{};
  QLineEdit* txt_customspacer = nullptr;
  std::array<QRadioButton*, 4> Option_output{};
  std::array<QCheckBox*, 5> Chk_statistic{};
  QCheckBox* Chk_rawexport = nullptr;
  QCheckBox* Chk_autofile = nullptr;
  QPushButton* Cmd_generate = nullptr;
  QPushButton* Cmd_cancel = nullptr;

private:
  ReportConfig& config_;
  common::Dialogs& dialogs_;
  std::function<void()> on_done_;
};

} // namespace kestrova::reports
