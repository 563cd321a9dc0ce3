#pragma once

#include <QLabel>
#include <QTimer>
#include <vector>

#include "acquisition/cycle_interfaces.hpp"
#include "app/startup_sequence.hpp"
#include "device/connection.hpp"

namespace kestrova::app {

class FrmMain;
class FrmInit;

// The start-up's view of the windows: the start screen, the main window's setup controls and
// the start-up timer.
class StartupScreens final : public StartupView {
public:
  StartupScreens(FrmMain& main, FrmInit& init, int timer_ms);

  void show_test_menu() override;
  void set_rest_controls() override;
  void show_start_screen(bool enabled) override;
  void enable_startup_timer() override;
  void apply_setup() override;
  void apply_light_temperature() override;
  void fill_bin_list(const reports::ReportBinChoice& choice) override;
  void show_project(const std::string& caption) override;
  void prepare_display() override;
  void show_news(const std::string& text) override;
  void show_main_window() override;

private:
  FrmMain& main_;
  FrmInit& init_;
  int timer_ms_;
};

// The connect action's view: the progress frame and its two labels, the COM port menu, the
// start screen's status line and the main window's link status bar. While a connect runs, the
// controls that must not be pressed are disabled and clicks aimed at them are dropped.
class ConnectionScreens final : public device::ConnectionStatus {
public:
  ConnectionScreens(FrmMain& main, FrmInit& init);

  void set_autochannel(std::string_view text) override;
  void set_autotext(std::string_view text) override;
  void set_news(std::string_view text) override;
  void show_progress(bool shown) override;
  void refresh() override;
  void check_com_port(int port) override;
  void show_start_screen() override;
  void show_link(const device::LinkState& link) override;

private:
  FrmMain& main_;
  FrmInit& init_;
  std::vector<QWidget*> locked_; // disabled while connecting
};

// What a running acquisition shows in the main window: the elapsed time, the progress bar, the
// temperature, the message frame and the buttons of a running or stopped acquisition. It also
// lets the acquisition open the setup window and show the main window again.
class AcquisitionScreens final : public acquisition::CycleView,
                                 public acquisition::AcquisitionHost {
public:
  explicit AcquisitionScreens(FrmMain& main) : main_(main) {}

  void set_time_text(std::string_view text) override;
  void set_progress(double percent) override;
  void set_temperature_text(std::string_view text) override;
  void show_outputs(int output_byte) override;
  void show_tick_counter(int counter) override;
  void set_autotext(std::string_view text) override;
  void set_autochannel(std::string_view text) override;
  void set_acquisition_name(std::string_view text) override;
  void show_notice(std::string_view text, acquisition::NoticeLevel level) override;
  void set_acquiring(bool running) override;
  void prepare_plots() override;

  void open_setup() override;
  void show_main_window() override;

private:
  FrmMain& main_;
};

} // namespace kestrova::app
