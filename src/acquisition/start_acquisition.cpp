// The start action of AcquisitionCycle: the questions, the acquisition folder, the resets, the
// start-up calibration and the timer.

#include <cstdio>
#include <system_error>
#include <unistd.h>

#include "acquisition/acquisition_cycle.hpp"
#include "acquisition/activity_files.hpp"
#include "acquisition/activity_sink.hpp"
#include "acquisition/recording_path.hpp"
#include "common/number_format.hpp"
#include "common/rounding.hpp"
#include "store/project_files.hpp"
#include "store/subproj.hpp"

namespace kestrova::acquisition {

namespace {

constexpr int kPumpRounds = 10;

void pump_rounds(common::EventPump& pump) {
  for (int i = 0; i < kPumpRounds; ++i)
    pump.process_events();
}

// The lock file's text: what a refused re-analysis or regrouping names as the running
// acquisition.
std::string lock_holder_text(const std::string& name, common::LocalTime start) {
  const common::CivilTime c = common::to_civil(start);
  char when[32];
  std::snprintf(when, sizeof when, "%04d-%02d-%02d %02d:%02d", c.year, c.month, c.day, c.hour,
                c.minute);
  return "acquisition \"" + name + "\" started " + when + " by process " +
         std::to_string(::getpid());
}

} // namespace

long long filesystem_free_mb(const std::filesystem::path& folder) {
  std::error_code ec;
  const auto info = std::filesystem::space(folder, ec);
  if (ec) return -1;
  return static_cast<long long>(
      common::round_half_even(static_cast<double>(info.available) / 1024.0 / 1024.0));
}

StartOutcome AcquisitionCycle::start(const StartRequest& request) {
  if (state_ != AcquisitionState::Stopped) return StartOutcome::AlreadyActive;
  // An unattended start asks nobody: each box it would show becomes a notice.
  std::optional<RecordingPath::Scope> unattended;
  if (request.autorun) unattended.emplace(*path_);
  common::Dialogs& dialogs = path_->dialogs();
  store::ProjectState& project = ctx_.project;
  const store::SetupValues& setup = project.setup;
  const bool auto_cal = setup.tool_settings[0][1] == 1;
  const bool auto_zero = setup.tool_settings[0][2] == 1;

  std::string name = "Autorun project";
  if (!request.autorun) {
    name = dialogs.input(name_prompt(auto_cal, auto_zero), "New Acquisition").value_or("");
  }
  if (name.empty()) {
    dialogs.message("Each Experiment Requires a name");
    return StartOutcome::NoName;
  }
  view_->set_acquisition_name(name);
  if (project.config.Actual_Project_Number == 0) {
    dialogs.message("Operation not allowed in Project #0:Default. Go to <Setup> and Save it "
                    "with another name");
    host_->open_setup();
    return StartOutcome::ProjectZero;
  }
  if (ctx_.link.offline) {
    dialogs.message("Acquisition not allowed in OFFLINE MODE. Connect the equipment and "
                    "restart the program.");
    return StartOutcome::Offline;
  }
  pump_rounds(path_->pump());
  ctx_.io.CommFlush(ctx_.link.port);
  pump_rounds(path_->pump());
  view_->prepare_plots();
  if (!check_disk(request.autorun)) {
    host_->open_setup();
    return StartOutcome::DiskRefused;
  }
  if (!create_folder(name, request.description)) return StartOutcome::FolderFailed;
  log_.open(folder());
  buffers_lost_ = 0;
  lost_run_ = 0;
  link_lost_logged_ = false;
  last_good_period_ = 0;
  stop_reason_.clear();

  finished_ = false;
  window_start_ = 0;
  window_end_ = 127;
  tick_counter_ = 0;
  state_ = AcquisitionState::Running;
  time_counter_off_ = false;
  view_->set_acquiring(true);
  reset(setup.RT_Buffer);
  activity_ = std::make_unique<ActivityFileSink>(folder(), buffer_length_, ctx_.write_at);
  sink_failure_told_ = false;

  snr_ = request.snr_text ? snr_from_text(*request.snr_text)
                          : snr_from_tenths(setup.tool_settings[0][3]);
  if (request.set_point) {
    set_point_ = *request.set_point;
  } else {
    const int tenths = setup.tool_settings[2][1];
    set_point_ = (tenths < 20 || tenths > 500) ? 20.0 : tenths / 10.0;
  }
  read_temperature();
  view_->set_temperature_text(
      common::format_display(temperature_, "0.0", common::locale_decimal_separator()));
  const auto& light = setup.tool_settings[1];
  if (light[0] == 1 && light[3] == 0)
    outputs_.light = light_by_hours(common::to_civil(ctx_.clock.now()).hour, light[1], light[2]);
  send_outputs();

  log_start(name, request.autorun);
  if (!run_startup_calibration()) return StartOutcome::CalibrationFailed;

  view_->prepare_plots();
  tick_counter_ = 0;
  start_time_ = ctx_.clock.now();
  start_steady_ = last_buffer_end_ = ctx_.clock.steady();
  period_sum_ = 0;
  period_records_ = 0;
  com_errors_ = 0;
  timer_enabled_ = true;
  state_ = AcquisitionState::Running;
  return StartOutcome::Started;
}

bool AcquisitionCycle::check_disk(bool autorun) {
  const store::SetupValues& setup = ctx_.project.setup;
  if (setup.Save_real != 1 || setup.Aq_lapse <= 30 || autorun) return true;
  const DiskCheck check = disk_check(setup.Aq_lapse, ctx_.free_space(ctx_.project.project_folder));
  if (!check.ask) return true;
  return path_->dialogs().message(disk_question(check), common::Buttons::YesNo,
                                  common::Icon::Warning) == common::Answer::Yes;
}

std::optional<std::string>
AcquisitionCycle::make_folder(const std::filesystem::path& project_folder, common::LocalTime start,
                              std::string& problem) {
  std::error_code ec;
  std::filesystem::create_directories(project_folder, ec);
  // The folder of the start minute, or when a run already holds that name (a restart or a
  // relaunch within the minute) the first free minute after it: two runs never share a folder
  // and so never share a time axis. create_directory is the claim: it fails for an existing name.
  for (int later = 0; later < kFolderMinutesTried; ++later) {
    const std::string name = acquisition_folder_name(start + std::chrono::minutes(later));
    const std::filesystem::path path = project_folder / name;
    ec.clear();
    if (std::filesystem::create_directory(path, ec)) return name;
    if (ec && ec != std::errc::file_exists) {
      problem = "Cannot create the acquisition folder " + path.string() + ": " + ec.message();
      return std::nullopt;
    }
  }
  problem = "Cannot create the acquisition folder: the folders of the " +
            std::to_string(kFolderMinutesTried) + " minutes from " +
            acquisition_folder_name(start) + " exist already in " + project_folder.string();
  return std::nullopt;
}

bool AcquisitionCycle::create_folder(const std::string& name, const std::string& description) {
  store::ProjectState& project = ctx_.project;
  const common::LocalTime now = ctx_.clock.now();
  std::string problem;
  const std::optional<std::string> folder_name = make_folder(project.project_folder, now, problem);
  if (!folder_name) {
    // Without its folder nothing of the acquisition could be recorded.
    path_->dialogs().message(problem, common::Buttons::Ok, common::Icon::Error);
    return false;
  }
  const std::filesystem::path path = project.project_folder / *folder_name;
  // Held until the acquisition stops (or the process ends): the folder is busy meanwhile.
  int lock_error = 0;
  lock_ = store::FolderLock::acquire(path, lock_holder_text(name, now), &lock_error);
  if (!lock_) {
    path_->dialogs().message("Cannot lock the acquisition folder " + path.string() + ": " +
                                 std::generic_category().message(lock_error),
                             common::Buttons::Ok, common::Icon::Error);
    return false;
  }
  if (!store::SaveProject(project, path, project.config.Actual_Project_Number, 0,
                          path_->dialogs())) {
    lock_.reset();
    return false;
  }
  if (!store::WriteAcquisitionIndex(path, name, description)) {
    lock_.reset();
    path_->dialogs().message("Cannot write " + (path / store::kAcquisitionIndexFile).string(),
                             common::Buttons::Ok, common::Icon::Error);
    return false;
  }
  recording_ = true;
  folder_name_ = *folder_name;
  return true;
}

bool AcquisitionCycle::run_startup_calibration() {
  const store::SetupValues& setup = ctx_.project.setup;
  const bool online = !ctx_.link.offline;
  // A calibration that gives up stops the acquisition; the log says why.
  if (setup.tool_settings[0][1] == 1 && online) {
    view_->set_autotext("<AUTOCALIBRATION>");
    stop_reason_ = "Stopped: the instrument failed during the start-up calibration";
    const bool ok = calibration_->fast_calibrate(snr_);
    view_->set_autotext("");
    log_calibration("Start-up calibration", ok);
    if (!ok) stop();
  }
  if (state_ == AcquisitionState::Running && setup.tool_settings[0][2] == 1 && online) {
    stop_reason_ = "Stopped: the instrument failed during the auto-zero";
    const bool ok = calibration_->auto_zero(snr_);
    log_calibration("Auto-zero", ok);
    if (!ok) stop();
  }
  stop_reason_.clear();
  return state_ == AcquisitionState::Running;
}

void AcquisitionCycle::reset(int buffer_length) {
  buffer_length_ = valid_buffer_length(buffer_length) ? buffer_length : kDefaultBufferLength;
  const std::size_t cells = static_cast<std::size_t>(buffer_length_ + 1) * kChannelSlots;
  for (auto* v : {&raw_, &upper_env_, &lower_env_, &lower_band_, &upper_band_})
    v->assign(cells, 0);
  for (auto* v : {&amp_sum_, &level_sum_, &tally_, &histogram_max_})
    v->assign(kChannelSlots, 0);
  counts_.assign(kChannelSlots, 0);
  totals_.assign(kChannelSlots, 0);
  histogram_.assign(static_cast<std::size_t>(kHistogramBins) * kChannelSlots, 0);
  keep_.fill(true);
  sample_index_ = 0;
  buffers_done_ = 0;
  minutes_ = 0;
  minutes_2_ = 0;
  well_channels_.clear();
  const auto& wells = ctx_.project.plate.map.well_of_channel;
  for (int c = 0; c < kChannelCount; ++c)
    if (wells[c] >= 0) well_channels_.push_back(c);
  well_counts_.assign(well_channels_.size(), 0);
}

} // namespace kestrova::acquisition
