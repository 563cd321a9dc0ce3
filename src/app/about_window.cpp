#include "app/about_window.hpp"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QVBoxLayout>

#include "app/logo.hpp"
#include "app/version.hpp"

namespace kestrova::app {

FrmAbout::FrmAbout(QWidget* parent) : QDialog(parent) {
  setObjectName("Frm_About");
  setWindowTitle("About Kestrova");
  auto* layout = new QHBoxLayout(this);
  Image1 = new QLabel(this);
  Image1->setObjectName("Image1");
  Image1->setPixmap(kestrova_logo(96));
  layout->addWidget(Image1, 0, Qt::AlignTop);

  auto* text = new QVBoxLayout;
  auto* name = new QLabel("<b>Kestrova</b> Acquisition Software", this);
  name->setStyleSheet("font-size: 14pt;");
  Label_version = new QLabel(QString::fromStdString(version_banner()), this);
  Label_version->setObjectName("Label_version");
  Label1 = new QLabel(kMakerLine, this);
  Label1->setObjectName("Label1");
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  text->addWidget(name);
  text->addWidget(Label_version);
  text->addWidget(Label1);
  text->addStretch();
  text->addWidget(buttons);
  layout->addLayout(text);
}

} // namespace kestrova::app
