#include "reports/report_config.hpp"

#include <algorithm>

namespace kestrova::reports {

ReportConfig::ReportConfig(std::filesystem::path data_folder)
    : data_folder_(std::move(data_folder)),
      settings_(default_report_settings(current_list_separator())) {}

void ReportConfig::read() {
  const ReportSettingsRead file =
      read_report_settings_file(data_folder_ / kReportSettingsFile, current_list_separator());
  settings_ = file.settings;
  user_defined_ = file.complete() && file.user_defined == 1;
  if (!file.complete()) settings_ = default_report_settings(current_list_separator());
  changed();
}

int ReportConfig::load(int flag, common::Dialogs& dialogs) {
  const int stored = load_report_settings(data_folder_, flag, settings_, dialogs);
  changed();
  return stored;
}

void ReportConfig::load_for_report(common::Dialogs& dialogs) {
  load(user_defined_ ? 1 : 0, dialogs);
}

void ReportConfig::store_current(common::Dialogs& dialogs) {
  const int flag = user_defined_ ? 1 : 0;
  load_report_settings(data_folder_, flag, settings_, dialogs);
  save_report_settings(data_folder_, settings_, flag, dialogs);
  changed();
}

bool ReportConfig::apply(const ReportSettings& settings, common::Dialogs& dialogs) {
  settings_ = settings;
  user_defined_ = true;
  const bool saved = save_report_settings(data_folder_, settings_, 1, dialogs);
  changed();
  return saved;
}

void ReportConfig::back_to_default(common::Dialogs& dialogs) {
  user_defined_ = false;
  load_report_settings(data_folder_, 0, settings_, dialogs);
  save_report_settings(data_folder_, settings_, 0, dialogs);
  changed();
}

void ReportConfig::add_observer(ReportConfigObserver* observer) {
  if (observer && std::find(observers_.begin(), observers_.end(), observer) == observers_.end())
    observers_.push_back(observer);
}

void ReportConfig::remove_observer(ReportConfigObserver* observer) {
  observers_.erase(std::remove(observers_.begin(), observers_.end(), observer), observers_.end());
}

void ReportConfig::changed() {
  // A copy: an observer may remove itself while it is told.
  const std::vector<ReportConfigObserver*> observers = observers_;
  for (ReportConfigObserver* o : observers)
    o->report_config_changed(*this);
}

} // namespace kestrova::reports
