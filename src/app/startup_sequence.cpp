#include "app/startup_sequence.hpp"

#include <exception>

#include "store/config.hpp"

namespace kestrova::app {

PhaseAction phase_action(int phase, bool autorun) {
  PhaseAction a;
  switch (phase) {
  case 0:
    a.status = kStatusReadingConfig;
    a.repaint = true;
    break;
  case 1:
    a.status = kStatusConfigOk;
    a.repaint = true;
    break;
  case 2:
    a.status = kStatusNotConnected;
    a.repaint = true;
    break;
  case 3:
    a.repaint = true;
    break;
  case 4:
    break;
  case 5:
    a.done = false;
    a.show_main_and_connect = autorun;
    break;
  case 6:
    a.done = false;
    a.show_main_and_start = autorun;
    break;
  default:
    a.done = false;
    break;
  }
  return a;
}

StartupSequence::StartupSequence(AppState& state, Services& services, StartupView& view,
                                 ProjectLoadStep load_project, ReportBinStep read_report_bin)
    : state_(state), services_(services), view_(view), load_project_(std::move(load_project)),
      read_report_bin_(std::move(read_report_bin)) {}

void StartupSequence::begin_phase(int phase) {
  state_.startup.phase = phase;
  state_.startup.phase_done = false;
  view_.enable_startup_timer();
}

void StartupSequence::run_phase(int phase) {
  begin_phase(phase);
  while (!state_.startup.phase_done && !state_.ended)
    services_.pump.wait_for_events();
}

PhaseAction StartupSequence::on_timer() {
  const PhaseAction a = phase_action(state_.startup.phase, state_.startup.autorun);
  if (a.done) state_.startup.phase_done = true;
  return a;
}

LoadOutcome StartupSequence::load(bool autorun) {
  auto& s = state_.startup;
  s.load_stage = 0;
  s.phase = 0;
  state_.link.offline = false;
  state_.link.connected = false;
  state_.acquisition = {};
  view_.show_test_menu();

  s.autorun = autorun;
  if (s.autorun) {
    services_.clock.sleep_ms(500);
    services_.pump.process_events();
    services_.clock.sleep_ms(500);
  }
  view_.set_rest_controls();

  if (!store::config_file_exists(state_.project.app_folder)) {
    services_.dialogs.message(store::kConfigNotFoundMessage, common::Buttons::Ok);
    return LoadOutcome::ConfigMissing;
  }
  try {
    load_steps();
  } catch (const std::exception&) {
    services_.dialogs.message(kLoadErrorPrefix + std::to_string(s.load_stage), common::Buttons::Ok);
    return LoadOutcome::Failed;
  }
  if (state_.ended) return LoadOutcome::Ended;
  if (s.autorun) begin_phase(5);
  return LoadOutcome::Ready;
}

void StartupSequence::load_steps() {
  auto& s = state_.startup;
  s.load_stage = 1;
  store::LoadConfig(state_.project, services_.dialogs);
  state_.link.port = static_cast<std::int16_t>(state_.project.config.Serial_COM);
  s.load_stage = 2;
  store::ResolveProjectFolder(state_.project);
  s.load_stage = 3;

  view_.show_start_screen(false);
  run_phase(0);
  load_project_(state_, [this](const std::string& text) { view_.show_news(text); });
  s.load_stage = 4;
  run_phase(1);

  view_.apply_setup();
  s.load_stage = 5;
  view_.apply_light_temperature();

  view_.fill_bin_list(read_report_bin_(state_));
  s.load_stage = 5;

  state_.channels.reset(state_.project.setup.RT_Buffer);
  view_.show_project(project_caption(state_.project));
  run_phase(2);

  state_.channels.set_display_defaults();
  state_.acquisition.running = false;
  state_.acquisition.paused = false;
  view_.prepare_display();
  s.load_stage = 7;
  run_phase(3);
  s.load_stage = 8;
  run_phase(4);

  view_.show_start_screen(true);
  s.load_stage = 9;
}

} // namespace kestrova::app
