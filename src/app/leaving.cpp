#include "app/leaving.hpp"

namespace kestrova::app {

std::string update_before_exit_question(const store::ProjectState& project) {
  return "Update values to project " + project_caption(project) + " before Exit?";
}

bool confirm_quit(AppState& state, Services& services, const std::function<void()>& close_port) {
  if (services.dialogs.message(kSureToQuit, common::Buttons::YesNo, common::Icon::Question) !=
      common::Answer::Yes)
    return false;
  if (state.link.connected) close_port();
  services.pump.process_events();
  services.clock.sleep_ms(100);
  state.ended = true;
  return true;
}

void leave_from_main(AppState& state, Services& services, const std::function<void()>& save_project,
                     const std::function<void()>& close_port) {
  if (!state.link.offline) {
    const auto answer = services.dialogs.message(update_before_exit_question(state.project),
                                                 common::Buttons::YesNo, common::Icon::Question);
    if (answer == common::Answer::Yes) {
      save_project();
      services.clock.sleep_ms(300);
      services.pump.process_events();
      services.clock.sleep_ms(300);
    }
    close_port();
  }
  state.ended = true;
}

} // namespace kestrova::app
