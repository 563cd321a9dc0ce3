// Pause, stop, completion and the report hand-over of AcquisitionCycle.

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/activity_files.hpp"

namespace kestrova::acquisition {

void AcquisitionCycle::pause_or_resume() {
  if (state_ == AcquisitionState::Running) {
    const common::Answer a =
        ctx_.dialogs.message("Pause Time Counter?", common::Buttons::YesNo, common::Icon::Question);
    // The box lets events run; a stop meanwhile leaves nothing to pause.
    if (state_ != AcquisitionState::Running) return;
    if (a == common::Answer::Yes) {
      timer_enabled_ = false;
      state_ = AcquisitionState::Paused;
      paused_elapsed_ =
          std::chrono::duration_cast<std::chrono::milliseconds>(ctx_.clock.now() - start_time_);
      time_counter_off_ = true;
      view_->set_autochannel("Time Counter = OFF");
    } else {
      time_counter_off_ = false;
      state_ = AcquisitionState::Paused;
      view_->set_autochannel("Time Counter = ON");
    }
    view_->set_autotext("<< PAUSED >>");
    return;
  }
  if (state_ != AcquisitionState::Paused) return;
  if (time_counter_off_) start_time_ = ctx_.clock.now() - paused_elapsed_;
  tick_counter_ = 0;
  com_errors_ = 0;
  timer_enabled_ = true;
  state_ = AcquisitionState::Running;
  time_counter_off_ = false;
  view_->set_autotext("");
}

bool AcquisitionCycle::stop() {
  const bool was_active = state_ != AcquisitionState::Stopped;
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
    ctx_.pump.process_events();
  if (!ctx_.link.offline) ctx_.io.CommFlush(ctx_.link.port);
  ctx_.clock.sleep_ms(5);
  for (int i = 0; i < 10; ++i)
    ctx_.pump.process_events();
  tick_counter_ = 0;
  return was_active;
}

void AcquisitionCycle::complete() {
  finished_ = true;
  timer_enabled_ = false;
  outputs_.light = false;
  outputs_.power = false;
  send_outputs();
  if (report_->automatic()) {
    show_report(true);
    host_->show_main_window();
  } else {
    show_report(false);
    ctx_.dialogs.message("Acquisition finished");
  }
  stop();
}

void AcquisitionCycle::show_report(bool autoreport) {
  if (folder_name_.empty()) return;
  const std::filesystem::path path = folder();
  if (!std::filesystem::is_regular_file(path / kCountsFileName)) {
    ctx_.dialogs.message("Activity file not Found");
    return;
  }
  report_->open_report(path, has_histogram_files(path), autoreport);
}

} // namespace kestrova::acquisition
