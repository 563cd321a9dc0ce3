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
#include "reports/report_settings.hpp"

namespace kestrova::reports {

inline constexpr const char* kUserConfigApplied = "User Configuration Applied";
inline constexpr const char* kDefaultConfigApplied = "Default Report Configuration Applied";

// The report settings window "[User Defined Report]": edits repoconf.dat of the data folder.
// "Apply" stores the user configuration, "Back to Default" the defaults; both then tell the
// main window (its "User Defined BIN size" mark) through `on_done` and hide.
class FrmReportSet final : public QWidget {
public:
  // `on_done(user_defined)` sets the main window's mark and shows the main window.
  FrmReportSet(const std::filesystem::path& data_folder, common::Dialogs& dialogs,
               std::function<void(bool user_defined)> on_done, QWidget* parent = nullptr);

  // Fills the controls from repoconf.dat (the window's load).
  void Form_Load();
  void Cmd_generate_Click(); // "Apply"
  void Cmd_cancel_Click();   // "Back to Default"

  const ReportSettings& settings() const { return settings_; }

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
  const std::filesystem::path& data_folder_; // the data folder, which may be set later
  common::Dialogs& dialogs_;
  std::function<void(bool)> on_done_;
  ReportSettings settings_;
};

} // namespace kestrova::reports
