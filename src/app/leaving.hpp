#pragma once

#include <functional>
#include <string>

#include "app/app_state.hpp"

namespace kestrova::app {

inline constexpr const char* kSureToQuit = "Sure to Quit?";

// The question asked when leaving through the main window while online.
std::string update_before_exit_question(const store::ProjectState& project);

// "EXIT" on the start screen: asks "Sure to Quit?". On Yes closes the port when connected,
// lets events run, waits 100 ms and returns true (the program ends). On No returns false
// and nothing changes.
bool confirm_quit(AppState& state, Services& services, const std::function<void()>& close_port);

// Leaving through the main window: unless offline, asks whether to save the project setup
// first (Yes saves and pauses 300 ms, lets events run, pauses 300 ms) and closes the port.
// In offline mode nothing is asked. Marks the program as ended.
void leave_from_main(AppState& state, Services& services, const std::function<void()>& save_project,
                     const std::function<void()>& close_port);

} // namespace kestrova::app
