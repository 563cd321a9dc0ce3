#include "ui/qt_dialogs.hpp"

#include <gtest/gtest.h>

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>

#include "qt_test_app.hpp"

namespace kestrova::ui {
namespace {

// Runs `act` on the modal box once it is open.
void when_modal(const std::function<void(QWidget*)>& act) {
  QTimer::singleShot(0, [act] {
    QWidget* box = QApplication::activeModalWidget();
    if (box == nullptr) {
      when_modal(act);
      return;
    }
    act(box);
  });
}

class QtDialogsTest : public ::testing::Test {
protected:
  void SetUp() override { testing::ensure_qt_application(); }
  QtDialogs qt_dialogs_;
  common::Dialogs& dialogs_ = qt_dialogs_;
};

TEST_F(QtDialogsTest, MessageBoxShowsTextButtonsAndTitle) {
  struct Case {
    common::Buttons buttons;
    QMessageBox::StandardButton press;
    common::Answer answer;
  };
  const std::vector<Case> cases = {
      {common::Buttons::Ok, QMessageBox::Ok, common::Answer::Ok},
      {common::Buttons::OkCancel, QMessageBox::Cancel, common::Answer::Cancel},
      {common::Buttons::YesNo, QMessageBox::No, common::Answer::No},
      {common::Buttons::YesNoCancel, QMessageBox::Yes, common::Answer::Yes},
  };
  for (const auto& c : cases) {
    QString text;
    QString title;
    int buttons = 0;
    when_modal([&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      ASSERT_NE(box, nullptr);
      text = box->text();
      title = box->windowTitle();
      buttons = static_cast<int>(box->buttons().size());
      box->button(c.press)->click();
    });
    EXPECT_EQ(dialogs_.message("Sure to Quit?", c.buttons, common::Icon::Question), c.answer);
    EXPECT_EQ(text, "Sure to Quit?");
    EXPECT_EQ(title, "Kestrova") << "an empty title is the program's name";
    EXPECT_EQ(buttons, c.buttons == common::Buttons::Ok            ? 1
                       : c.buttons == common::Buttons::YesNoCancel ? 3
                                                                   : 2);
  }
}

TEST_F(QtDialogsTest, InputBoxReturnsTextOrNothing) {
  QString prompt;
  when_modal([&](QWidget* w) {
    auto* box = qobject_cast<QInputDialog*>(w);
    ASSERT_NE(box, nullptr);
    prompt = box->labelText();
    EXPECT_EQ(box->textValue(), "4");
    box->setTextValue("7");
    box->accept();
  });
  EXPECT_EQ(dialogs_.input("Type New Port number", "Port", "4"), std::optional<std::string>("7"));
  EXPECT_EQ(prompt, "Type New Port number");

  when_modal([](QWidget* w) { qobject_cast<QDialog*>(w)->reject(); });
  EXPECT_EQ(dialogs_.input("Name?", {}, "x"), std::nullopt);
}

} // namespace
} // namespace kestrova::ui
