#include "app/headless.hpp"

#include "acquisition/acquisition_cycle.hpp"
#include "app/main_display.hpp"

namespace kestrova::app {

HeadlessProgram::HeadlessProgram(AppOptions options, common::Dialogs& dialogs, common::Clock& clock,
                                 common::Shell& shell)
    : pump_(*this), services_{dialogs, pump_, clock, shell} {
  session_ =
      std::make_unique<Session>(std::move(options), services_, SessionViews{*this, *this, *this});
  session_->acquisition().set_view(this);
}

long long HeadlessProgram::run_acquisition_until_done(long long max_ticks) {
  long long ticks = 0;
  while (ticks < max_ticks && !ended_ && session_->acquisition_timer_enabled()) {
    services_.clock.sleep_ms(acquisition::kCycleTimerMs);
    session_->tick();
    ++ticks;
  }
  return ticks;
}

long long HeadlessProgram::run_instrument_wait(long long max_seconds) {
  long long seconds = 0;
  while (seconds < max_seconds && !ended_ && session_->waiting_for_instrument()) {
    services_.clock.sleep_ms(1000);
    session_->instrument_wait_tick();
    ++seconds;
  }
  return seconds;
}

HeadlessProgram::~HeadlessProgram() = default;

void HeadlessProgram::run_due_timer() {
  // A timer tick never runs inside another one.
  if (!timer_armed_ || in_timer_ || ended_) return;
  timer_armed_ = false;
  in_timer_ = true;
  session_->startup_timer_fired();
  in_timer_ = false;
}

void HeadlessProgram::note(std::string text) { history_.push_back(std::move(text)); }

void HeadlessProgram::show_start_screen(bool enabled) {
  start_shown_ = true;
  if (!enabled) main_shown_ = false;
}

void HeadlessProgram::show_news(const std::string& text) {
  news_ = text;
  note("news " + text);
}

void HeadlessProgram::show_main_window() {
  start_shown_ = false;
  main_shown_ = true;
}

void HeadlessProgram::set_autochannel(std::string_view text) {
  if (!text.empty()) note("channel " + std::string(text));
}

void HeadlessProgram::set_autotext(std::string_view text) {
  if (!text.empty()) note("text " + std::string(text));
}

void HeadlessProgram::show_start_screen() {
  start_shown_ = true;
  main_shown_ = false;
}

void HeadlessProgram::show_link(const device::LinkState& link) {
  link_status_ = link_status_line(link).text;
  note("link " + link_status_);
}

} // namespace kestrova::app
