#include "app/main_views.hpp"

#include <QCoreApplication>
#include <QMenuBar>
#include <algorithm>

#include "app/init_window.hpp"
#include "app/live_display_binding.hpp"
#include "app/main_display.hpp"
#include "app/main_window.hpp"
#include "ui/qt_text.hpp"

namespace kestrova::app {

namespace {

using ui::qs;

} // namespace

// --- StartupScreens ---

StartupScreens::StartupScreens(FrmMain& main, FrmInit& init, int timer_ms)
    : main_(main), init_(init), timer_ms_(timer_ms) {}

void StartupScreens::show_test_menu() { main_.mnstatustest->setVisible(true); }

void StartupScreens::set_rest_controls() { main_.set_rest_controls(); }

void StartupScreens::show_start_screen(bool enabled) {
  init_.setEnabled(enabled);
  init_.show();
  if (!enabled) main_.hide();
}

void StartupScreens::enable_startup_timer() {
  main_.Timerinicio->setInterval(timer_ms_);
  main_.Timerinicio->start();
}

void StartupScreens::apply_setup() {
  main_.show_setup_controls(setup_controls(main_.project_setup()));
}

void StartupScreens::apply_light_temperature() {
  main_.show_light_temperature(light_temperature_controls(main_.project_setup()));
}

void StartupScreens::fill_bin_list(const reports::ReportBinChoice& choice) {
  main_.fill_bin_list(choice);
}

void StartupScreens::show_project(const std::string& caption) { main_.show_project(caption); }

void StartupScreens::prepare_display() { main_.prepare_display(); }

void StartupScreens::show_news(const std::string& text) {
  init_.show_news(qs(text));
  init_.LblNews->repaint();
}

void StartupScreens::show_main_window() {
  init_.hide();
  main_.showMaximized();
}

// --- ConnectionScreens ---

ConnectionScreens::ConnectionScreens(FrmMain& main, FrmInit& init)
    : main_(main),
      init_(init), locked_{
                       main.PicPanel1,      main.PicPanel2,     main.menuBar(), main.cmd_connect,
                       main.Cmd_disconnect, main.frame_station, &init} {}

void ConnectionScreens::set_autochannel(std::string_view text) {
  main_.lbl_autochannel->setText(qs(text));
}

void ConnectionScreens::set_autotext(std::string_view text) {
  main_.lbl_autotext->setText(qs(text));
  // A text outside a connect (a relaunched instance waiting for the instrument) shows the
  // message frame too; an empty one hides it.
  main_.frm_autotext->setVisible(!text.empty());
  if (!text.empty()) main_.frm_autotext->raise();
}

void ConnectionScreens::set_news(std::string_view text) { init_.show_news(qs(text)); }

void ConnectionScreens::show_progress(bool shown) {
  if (shown) {
    for (QWidget* w : locked_)
      w->setEnabled(false);
    main_.picturecal->hide();
    main_.frm_autotext->show();
    main_.frm_autotext->raise();
    return;
  }
  // Clicks queued while connecting reach the disabled controls now and are dropped there,
  // instead of firing on whatever sits under the progress frame once it is gone.
  QCoreApplication::processEvents();
  for (QWidget* w : locked_)
    w->setEnabled(true);
  main_.frm_autotext->hide();
  main_.picturecal->show();
  main_.lbl_autotext->show();
  main_.lbl_autochannel->show();
}

void ConnectionScreens::refresh() {
  main_.lbl_autochannel->repaint();
  main_.lbl_autotext->repaint();
  init_.LblNews->repaint();
}

void ConnectionScreens::check_com_port(int port) {
  for (int i = 1; i <= 15; ++i)
    main_.mncom1[static_cast<std::size_t>(i)]->setChecked(i == port);
}

void ConnectionScreens::show_start_screen() {
  init_.show();
  main_.hide();
}

void ConnectionScreens::show_link(const device::LinkState& link) {
  main_.show_link_status(link_status_line(link));
  main_.Cmd_disconnect->setEnabled(link.connected);
  const std::string news = start_screen_link_text(link);
  if (!news.empty() && !link.connected) init_.show_news(qs(news));
}

// --- AcquisitionScreens ---

void AcquisitionScreens::set_time_text(std::string_view text) { main_.Txt_time->setText(qs(text)); }

void AcquisitionScreens::set_progress(double percent) {
  ui::PictureBox* bar = main_.picturetime;
  bar->set_world(0, 0, 100, 100);
  bar->clear({255, 255, 255});
  bar->box(0, 0, std::min(percent, 100.0), 100, {0, 0, 255}, true);
}

void AcquisitionScreens::set_temperature_text(std::string_view text) {
  main_.lbl_temperature->setText("T=" + qs(text) + "*C");
}

void AcquisitionScreens::show_outputs(int output_byte) { main_.show_outputs(output_byte); }

void AcquisitionScreens::show_tick_counter(int counter) {
  // The previous number (two ticks ago) is wiped by writing it again in the background colour.
  main_.Picreal->text(10, 250, "#" + std::to_string(counter - 2), {255, 255, 255}, 8);
  main_.Picreal->text(10, 250, "#" + std::to_string(counter), {0, 0, 0}, 8);
}

void AcquisitionScreens::set_autotext(std::string_view text) {
  main_.lbl_autotext->setText(qs(text));
  main_.frm_autotext->setVisible(!text.empty());
  if (!text.empty()) main_.frm_autotext->raise();
}

void AcquisitionScreens::set_autochannel(std::string_view text) {
  main_.lbl_autochannel->setText(qs(text));
}

void AcquisitionScreens::set_acquisition_name(std::string_view text) {
  main_.txt_subproject->setText(qs(text));
}

void AcquisitionScreens::show_notice(std::string_view text, acquisition::NoticeLevel level) {
  main_.show_acquisition_notice(text, level != acquisition::NoticeLevel::Info,
                                level == acquisition::NoticeLevel::Problem);
}

void AcquisitionScreens::set_acquiring(bool running) {
  main_.CmdPlay->setEnabled(!running);
  main_.CmdPause->setEnabled(running);
  main_.Cmdsetup->setEnabled(!running);
  main_.Cmdoffline->setEnabled(!running);
  main_.Cmb_organism->setEnabled(!running);
  main_.txt_snr_umbral->setEnabled(!running);
  main_.Txt_description->setReadOnly(running);
  main_.chk_bodybends->setEnabled(!running && main_.project_setup().Plate_format == "w96u");
}

void AcquisitionScreens::prepare_plots() {
  if (LiveDisplayBinding* live = main_.live_display()) live->acquisition_started();
}

void AcquisitionScreens::open_setup() { main_.Cmdsetup_Click(); }

void AcquisitionScreens::show_main_window() { main_.show(); }

} // namespace kestrova::app
