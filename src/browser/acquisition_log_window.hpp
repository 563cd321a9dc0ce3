#pragma once

#include <QDialog>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <filesystem>

namespace kestrova::browser {

// The acquisition log of one folder in a window of its own, not modal, read-only; "Reload"
// reads the file again (an acquisition still running goes on writing it).
class AcquisitionLogWindow final : public QDialog {
public:
  explicit AcquisitionLogWindow(QWidget* parent = nullptr);

  // Shows the log of `folder`; false (the window stays hidden) when it has none.
  bool show_log(const std::filesystem::path& folder);
  void Cmd_reload_Click();

  QLabel* lbl_logfile = nullptr;
  QPlainTextEdit* txt_log = nullptr;
  QPushButton* Cmd_reload = nullptr;
  QPushButton* Cmd_close = nullptr;

private:
  std::filesystem::path folder_;
};

} // namespace kestrova::browser
