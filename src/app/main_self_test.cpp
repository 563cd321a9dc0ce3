// The main window's device self-test: "Test DEVICE" starts it, Timer_test drives its steps, and
// its labels and pictures are the window's lbl_temperature, lbl_autostart, Picact and
// picturetime.

#include <QObject>
#include <QString>

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/self_test.hpp"
#include "app/app.hpp"
#include "app/main_window.hpp"

namespace kestrova::app {

namespace {

QString text_of(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<int>(s.size()));
}

} // namespace

// The engine and its view on the window; a child of the window, so the window owns it.
class SelfTestBinding final : public QObject, public acquisition::SelfTestView {
public:
  SelfTestBinding(FrmMain& main, App& app)
      : QObject(&main), main_(main),
        test_({app.state().link, app.session().ports(), app.session().protocol(),
               app.services().dialogs, app.services().clock, app.services().shell,
               app.options().data_dir,
               [&app] { return app.session().connection().Probe(app.state().link.port); }}) {
    test_.set_view(this);
    test_.set_canvases(main.Picact, main.picturetime);
  }

  void set_temperature_label(std::string_view text) override {
    main_.lbl_temperature->setText(text_of(text));
  }
  void set_banner(std::string_view text, bool visible) override {
    main_.lbl_autostart->setText(text_of(text));
    main_.lbl_autostart->setVisible(visible);
    if (visible) main_.lbl_autostart->raise();
  }
  void restore_live_display() override {
    main_.Picact->clear({255, 255, 255});
    main_.Picact->set_world(-30, 300, 300, -30);
  }

  acquisition::SelfTest& test() { return test_; }

private:
  FrmMain& main_;
  acquisition::SelfTest test_;
};

void FrmMain::mnstatustest_Click() {
  if (!self_test_) self_test_ = new SelfTestBinding(*this, app_);
  const bool acquiring =
      app_.session().acquisition().state() != acquisition::AcquisitionState::Stopped;
  Timer_test->stop();
  if (self_test_->test().start(acquiring)) Timer_test->start(self_test_->test().interval_ms());
}

void FrmMain::Timer_test_Timer() {
  if (!self_test_) {
    Timer_test->stop();
    return;
  }
  acquisition::SelfTest& test = self_test_->test();
  test.tick();
  if (!test.timer_enabled()) {
    Timer_test->stop();
  } else if (Timer_test->interval() != test.interval_ms()) {
    Timer_test->setInterval(test.interval_ms());
  }
}

void FrmMain::redraw_self_test() {
  if (self_test_running()) self_test_->test().redraw();
}

bool FrmMain::self_test_running() const { return self_test_ && self_test_->test().timer_enabled(); }

} // namespace kestrova::app
