#include "browser/acquisition_log_window.hpp"

#include <QFontDatabase>
#include <QHBoxLayout>
#include <QScrollBar>
#include <QVBoxLayout>

#include "browser/acquisition_log_view.hpp"

namespace kestrova::browser {

AcquisitionLogWindow::AcquisitionLogWindow(QWidget* parent) : QDialog(parent) {
  setObjectName("Frm_acquisitionlog");
  setModal(false);
  auto* v = new QVBoxLayout(this);
  lbl_logfile = new QLabel(this);
  lbl_logfile->setObjectName("lbl_logfile");
  lbl_logfile->setTextInteractionFlags(Qt::TextSelectableByMouse);
  lbl_logfile->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  txt_log = new QPlainTextEdit(this);
  txt_log->setObjectName("txt_log");
  txt_log->setReadOnly(true);
  // One event a line, often longer than the window: wrapped, so that no event is cut.
  txt_log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  txt_log->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  Cmd_reload = new QPushButton("Reload", this);
  Cmd_reload->setObjectName("Cmd_reload");
  Cmd_close = new QPushButton("Close", this);
  Cmd_close->setObjectName("Cmd_close");
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(Cmd_reload);
  buttons->addWidget(Cmd_close);
  v->addWidget(lbl_logfile);
  v->addWidget(txt_log, 1);
  v->addLayout(buttons);
  connect(Cmd_reload, &QPushButton::clicked, this, &AcquisitionLogWindow::Cmd_reload_Click);
  connect(Cmd_close, &QPushButton::clicked, this, &QDialog::hide);
  resize(900, 480);
}

bool AcquisitionLogWindow::show_log(const std::filesystem::path& folder) {
  const AcquisitionLogView view = acquisition_log_view(folder);
  if (!view.text) return false;
  folder_ = folder;
  setWindowTitle(QString::fromStdString(view.title));
  lbl_logfile->setText(QString::fromStdString(folder.string()));
  txt_log->setPlainText(QString::fromUtf8(view.text->data(), static_cast<int>(view.text->size())));
  // The newest events are at the end.
  txt_log->verticalScrollBar()->setValue(txt_log->verticalScrollBar()->maximum());
  show();
  raise();
  return true;
}

void AcquisitionLogWindow::Cmd_reload_Click() {
  if (!folder_.empty()) show_log(folder_);
}

} // namespace kestrova::browser
