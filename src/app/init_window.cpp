#include "app/init_window.hpp"

#include <QCloseEvent>
#include <QGridLayout>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QVBoxLayout>

#include "app/app.hpp"
#include "app/logo.hpp"
#include "app/main_display.hpp"
#include "app/version.hpp"
#include "ui/rounded_look.hpp"

namespace kestrova::app {

FrmInit::FrmInit(App& app) : app_(app) {
  setObjectName("Frm_Init");
  setWindowTitle("<Kestrova> Acquisition Software");
  build();
}

void FrmInit::build() {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(28, 24, 28, 18);
  outer->setSpacing(10);

  auto* header = new QGridLayout;
  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setPixmap(kestrova_logo(88));
  Image1->setCursor(Qt::PointingHandCursor);
  auto* title = new QLabel("<b>Kestrova</b> Motility Tracker", this);
  title->setStyleSheet("font-size: 17pt; color: #1f4e79;");
  Label1 = new QLabel(kMakerLine, this);
  Label1->setObjectName("Label1");
  Label1->setStyleSheet("color: #4a5a6a;");
  Label1->setCursor(Qt::PointingHandCursor);
  header->addWidget(Image1, 0, 0, 2, 1);
  header->addWidget(title, 0, 1, Qt::AlignBottom);
  header->addWidget(Label1, 1, 1, Qt::AlignTop);
  header->setColumnStretch(1, 1);
  outer->addLayout(header);

  const auto make_button = [this](const char* name, const char* caption) {
    auto* b = new QPushButton(caption, this);
    b->setObjectName(name);
    b->setMinimumHeight(52);
    b->setStyleSheet("font-size: 11pt;");
    return b;
  };
  cmd_option1 = make_button("cmd_option1", "Setup a New Project");
  cmd_option2 = make_button("cmd_option2", "Run Latest Project");
  cmd_option3 = make_button("cmd_option3", "Analyze recorded experiments");
  cmd_option4 = make_button("cmd_option4", "EXIT");
  for (auto* b : {cmd_option1, cmd_option2, cmd_option3, cmd_option4})
    outer->addWidget(b);

  LblNews = new QLabel("Equipment Status = unknown", this);
  LblNews->setObjectName("LblNews");
  LblNews->setFrameShape(QFrame::StyledPanel);
  LblNews->setMinimumHeight(30);
  LblNews->setStyleSheet("margin: 0 4px 0 5px; padding: 4px; background: #f4f7fa; color: #1d2833;");
  outer->addWidget(LblNews);

  Label_version = new QLabel(QString::fromStdString(version_banner()), this);
  Label_version->setObjectName("Label_version");
  Label_version->setAlignment(Qt::AlignRight);
  Label_version->setStyleSheet("color: #6a7885;");
  outer->addWidget(Label_version);

  ui::apply_rounded_look(this);
  resize(460, 470);
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  connect(cmd_option1, &QPushButton::clicked, this, &FrmInit::cmd_option1_Click);
  connect(cmd_option2, &QPushButton::clicked, this, &FrmInit::cmd_option2_Click);
  connect(cmd_option3, &QPushButton::clicked, this, &FrmInit::cmd_option3_Click);
  connect(cmd_option4, &QPushButton::clicked, this, &FrmInit::cmd_option4_Click);
  Image1->installEventFilter(this);
  Label1->installEventFilter(this);
}

void FrmInit::cmd_option1_Click() { app_.open_setup(); }

void FrmInit::cmd_option2_Click() { app_.run_latest_project(); }

void FrmInit::cmd_option3_Click() { app_.open_browser(); }

void FrmInit::cmd_option4_Click() {
  if (app_.session().quit_from_start_screen()) app_.session().end_program();
}

void FrmInit::show_news(const QString& text) { LblNews->setText(text); }

void FrmInit::Form_Activate() {
  const auto& link = app_.state().link;
  if (link.connected) show_news(QString::fromStdString(start_screen_link_text(link)));
}

bool FrmInit::event(QEvent* e) {
  if (e->type() == QEvent::WindowActivate) Form_Activate();
  return QWidget::event(e);
}

bool FrmInit::eventFilter(QObject* watched, QEvent* e) {
  if (e->type() == QEvent::MouseButtonDblClick && (watched == Image1 || watched == Label1)) {
    app_.services().shell.open_url(kMakerWebSite);
    return true;
  }
  return QWidget::eventFilter(watched, e);
}

void FrmInit::closeEvent(QCloseEvent* e) {
  // The window's close box asks the same question as "EXIT".
  if (app_.state().ended || app_.session().quit_from_start_screen()) {
    e->accept();
    app_.session().end_program();
  } else {
    e->ignore();
  }
}

} // namespace kestrova::app
