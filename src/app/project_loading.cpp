#include "app/project_loading.hpp"

#include "store/project_files.hpp"

namespace kestrova::app {

void load_current_project(AppState& state, common::Dialogs& dialogs,
                          const std::function<void(const std::string&)>& news) {
  auto& project = state.project;
  const store::SetupLoadResult setup =
      store::LoadProject(project, project.config.Actual_Project_Number, dialogs);
  if (!setup.identity_warning.empty()) news(setup.identity_warning);
}

bool save_current_project(const AppState& state, common::Dialogs& dialogs) {
  const auto& project = state.project;
  return store::SaveProject(project, project.project_folder, project.config.Actual_Project_Number,
                            0, dialogs);
}

} // namespace kestrova::app
