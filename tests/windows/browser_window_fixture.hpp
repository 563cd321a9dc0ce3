#pragma once

// What the experiment browser window tests share: the window on a temporary data folder with the
// fake dialogs, shell and clock, opening list lines, and reading the pixels of Picreal.

// The plot code first: Qt's "slots" macro would clash with a member of that name.
#include "browser/plot_view.hpp"

#include <QApplication>
#include <QImage>
#include <memory>
#include <string>
#include <vector>

#include "app_fixture.hpp"
#include "browser/browser_window.hpp"
#include "ui/picture_box.hpp"
#include "ui/qt_event_pump.hpp"

namespace kestrova::testing {

// The texts of a list's or combo box's items.
inline std::vector<std::string> items(const QListWidget* list) {
  std::vector<std::string> texts;
  for (int i = 0; i < list->count(); ++i)
    texts.push_back(list->item(i)->text().toStdString());
  return texts;
}
inline std::vector<std::string> items(const QComboBox* box) {
  std::vector<std::string> texts;
  for (int i = 0; i < box->count(); ++i)
    texts.push_back(box->itemText(i).toStdString());
  return texts;
}

class BrowserWindowFixture : public ::testing::Test {
protected:
  // The window on the data folder, opened and shown at `width` x `height`.
  void open_window(int width, int height) {
    window_ = std::make_unique<browser::FrmOffline>(
        tmp_.path(), browser::BrowserServices{dialogs_, shell_, clock_, pump_}, [] {});
    window_->Form_Load();
    window_->resize(width, height);
    window_->show();
    settle();
  }

  static void settle() {
    for (int i = 0; i < 5; ++i)
      QApplication::processEvents();
  }

  // Makes the first line containing `text` (and starting with `prefix`) the only selected
  // one and double-clicks it.
  void open_line(const QString& text, const QString& prefix = {}) {
    QListWidget* list = window_->Listpj;
    for (int i = 0; i < list->count(); ++i)
      if (list->item(i)->text().contains(text) && list->item(i)->text().startsWith(prefix)) {
        list->clearSelection();
        list->setCurrentRow(i);
        window_->Listpj_DblClick();
        settle();
        return;
      }
    ADD_FAILURE() << "no list line " << text.toStdString();
  }

  const QImage& image() const { return window_->Picreal->image(); }
  QPoint pixel(double x, double y) const { return window_->Picreal->to_pixel(x, y).toPoint(); }
  // True when `colour` is within `radius` pixels of world point (x, y).
  bool near(double x, double y, const QColor& colour, int radius = 2) const {
    const QPoint p = pixel(x, y);
    for (int dx = -radius; dx <= radius; ++dx)
      for (int dy = -radius; dy <= radius; ++dy) {
        const QPoint q = p + QPoint(dx, dy);
        if (image().rect().contains(q) && image().pixelColor(q) == colour) return true;
      }
    return false;
  }
  int count_of(const QColor& colour) const {
    int found = 0;
    for (int y = 0; y < image().height(); ++y)
      for (int x = 0; x < image().width(); ++x)
        if (image().pixelColor(x, y) == colour) ++found;
    return found;
  }

  TempDir tmp_;
  FakeDialogs dialogs_;
  FakeShell shell_;
  FakeClock clock_{{2026, 3, 4, 15, 42, 7, 0}};
  ui::QtEventPump pump_;
  std::unique_ptr<browser::FrmOffline> window_;
};

} // namespace kestrova::testing
