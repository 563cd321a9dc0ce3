#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/session.hpp"
#include "common/event_pump.hpp"

namespace kestrova::app {

// The program without a display: a Session whose views keep the texts they are given and
// whose start-up timer fires as soon as the start-up waits for it. The demo, the command-line
// tools and the tests drive the program through it.
class HeadlessProgram final : private StartupView,
                              private device::ConnectionStatus,
                              private ProgramEnd,
                              private acquisition::CycleView {
public:
  // `services.pump` should be pump() of this object for the start-up to advance; services
  // that wrap it (a recording pump) must pass wait_for_events on to it.
  HeadlessProgram(AppOptions options, common::Dialogs& dialogs, common::Clock& clock,
                  common::Shell& shell);
  ~HeadlessProgram() override;

  Session& session() { return *session_; }
  common::EventPump& pump() { return pump_; }

  // Status texts as a screen would show them now.
  const std::string& news() const { return news_; }
  const std::string& link_status() const { return link_status_; }
  bool main_window_shown() const { return main_shown_; }
  bool start_screen_shown() const { return start_shown_; }
  bool ended() const { return ended_; }
  // Runs the acquisition timer until it stops (completion, stop, a failed start, a relaunch)
  // or `max_ticks` ticks have run: each tick first lets the clock pass the timer interval.
  // Returns the ticks run.
  long long run_acquisition_until_done(long long max_ticks = 100'000'000);
  // While a relaunched instance waits for the instrument: lets the clock pass a second at a
  // time, running the wait's timer, until the wait ends or `max_seconds` have passed. Returns
  // the seconds passed.
  long long run_instrument_wait(long long max_seconds);
  // The acquisition's texts as the main window would show them now.
  const std::string& time_text() const { return time_text_; }
  const std::string& temperature_text() const { return temperature_text_; }
  double progress() const { return progress_; }
  // The acquisition's status line.
  const std::string& notice() const { return notice_; }

  // Every text written to the status lines, in order (for logs and tests).
  const std::vector<std::string>& history() const { return history_; }

private:
  class Pump final : public common::EventPump {
  public:
    explicit Pump(HeadlessProgram& owner) : owner_(owner) {}
    void process_events() override { owner_.run_due_timer(); }

  private:
    HeadlessProgram& owner_;
  };

  void run_due_timer();
  void note(std::string text);

  // StartupView.
  void show_test_menu() override {}
  void set_rest_controls() override {}
  void show_start_screen(bool enabled) override;
  void enable_startup_timer() override { timer_armed_ = true; }
  void apply_setup() override {}
  void apply_light_temperature() override {}
  void fill_bin_list(const reports::ReportBinChoice&) override {}
  void show_project(const std::string& caption) override { note("project " + caption); }
  void prepare_display() override {}
  void show_news(const std::string& text) override;
  void show_main_window() override;

  // ConnectionStatus.
  void set_autochannel(std::string_view text) override;
  void set_autotext(std::string_view text) override;
  void set_news(std::string_view text) override { show_news(std::string(text)); }
  void show_progress(bool) override {}
  void refresh() override {}
  void check_com_port(int) override {}
  void show_start_screen() override;
  void show_link(const device::LinkState& link) override;

  // ProgramEnd.
  void program_ended() override { ended_ = true; }

  // CycleView (the texts of frm_autotext go to the history like the connection's).
  void set_time_text(std::string_view text) override { time_text_ = text; }
  void set_progress(double percent) override { progress_ = percent; }
  void set_temperature_text(std::string_view text) override { temperature_text_ = text; }
  void set_acquisition_name(std::string_view text) override {
    note("acquisition " + std::string(text));
  }
  // Problems go to the history; the running count of a disk-full episode only to notice().
  void show_notice(std::string_view text, acquisition::NoticeLevel level) override {
    notice_ = text;
    if (level == acquisition::NoticeLevel::Problem) note("problem " + notice_);
  }

  Pump pump_;
  Services services_;
  std::unique_ptr<Session> session_;
  bool timer_armed_ = false;
  bool in_timer_ = false;
  std::string news_;
  std::string link_status_;
  bool main_shown_ = false;
  bool start_shown_ = false;
  bool ended_ = false;
  std::vector<std::string> history_;
  std::string time_text_;
  std::string temperature_text_;
  double progress_ = 0;
  std::string notice_;
};

} // namespace kestrova::app
