// Pause, stop, completion and the report hand-over of AcquisitionCycle.

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/activity_files.hpp"
#include "acquisition/recording_path.hpp"
#include "common/number_format.hpp"

namespace kestrova::acquisition {

void AcquisitionCycle::pause_or_resume() {
  if (state_ == AcquisitionState::Running) {
    // The operator's own question: asked even when the click came in during a tick.
    const common::Answer a =
        ctx_.dialogs.message("Pause Time Counter?", common::Buttons::YesNo, common::Icon::Question);
    // The box lets events run; a stop meanwhile leaves nothing to pause.
    if (state_ != AcquisitionState::Running) return;
    paused_at_ = ctx_.clock.steady();
    if (a == common::Answer::Yes) {
      timer_enabled_ = false;
      state_ = AcquisitionState::Paused;
      paused_elapsed_ = elapsed();
      time_counter_off_ = true;
      view_->set_autochannel("Time Counter = OFF");
    } else {
      time_counter_off_ = false;
      state_ = AcquisitionState::Paused;
      view_->set_autochannel("Time Counter = ON");
    }
    view_->set_autotext("<< PAUSED >>");
    log_event(std::string("Paused at minute ") + std::to_string(minutes_) + ", time counter " +
              (time_counter_off_ ? "off" : "on"));
    return;
  }
  if (state_ != AcquisitionState::Paused) return;
  if (time_counter_off_) start_steady_ = ctx_.clock.steady() - paused_elapsed_;
  const double paused_min =
      std::chrono::duration<double, std::ratio<60>>(ctx_.clock.steady() - paused_at_).count();
  log_event("Resumed after " + common::format_display(paused_min, "0.0", '.') + " min of pause");
  tick_counter_ = 0;
  com_errors_ = 0;
  timer_enabled_ = true;
  state_ = AcquisitionState::Running;
  time_counter_off_ = false;
  view_->set_autotext("");
}

bool AcquisitionCycle::stop() {
  return stop_because(stop_reason_.empty() ? "Stopped by the operator" : stop_reason_);
}

bool AcquisitionCycle::stop_because(const std::string& why) {
  const bool was_active = state_ != AcquisitionState::Stopped;
  if (was_active && !why.empty())
    log_event(why + " at minute " + std::to_string(minutes_) + " (" + record_summary() + ")");
  state_ = AcquisitionState::Stopped;
  timer_enabled_ = false;
  time_counter_off_ = false;
  lock_.reset(); // the folder is free for re-analysis and regrouping again
  view_->set_acquiring(false);
  view_->set_autotext("");
  outputs_.light = false;
  outputs_.power = false;
  send_outputs();
  for (int i = 0; i < 10; ++i)
    path_->pump().process_events();
  if (!ctx_.link.offline) ctx_.io.CommFlush(ctx_.link.port);
  ctx_.clock.sleep_ms(5);
  for (int i = 0; i < 10; ++i)
    path_->pump().process_events();
  tick_counter_ = 0;
  if (was_active) {
    log_.close();
    host_->acquisition_stopped();
  }
  return was_active;
}

void AcquisitionCycle::complete() {
  finished_ = true;
  timer_enabled_ = false;
  outputs_.light = false;
  outputs_.power = false;
  send_outputs();
  log_event("Completed: the programmed " + std::to_string(ctx_.project.setup.Aq_lapse) +
            " min reached (" + record_summary() + ")");
  // The report and the closing words wait for nobody: the run may be unattended.
  if (report_->automatic()) {
    show_report(true);
    host_->show_main_window();
  } else {
    show_report(false);
    path_->dialogs().message("Acquisition finished", common::Buttons::Ok,
                             common::Icon::Information);
  }
  stop_because({});
}

void AcquisitionCycle::show_report(bool autoreport) {
  if (folder_name_.empty()) return;
  const std::filesystem::path path = folder();
  if (!std::filesystem::is_regular_file(path / kCountsFileName)) {
    path_->dialogs().message("Activity file not Found");
    return;
  }
  report_->open_report(path, has_histogram_files(path), autoreport);
}

} // namespace kestrova::acquisition
