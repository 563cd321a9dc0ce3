#pragma once

// The report settings of the data folder, held once for the whole program: the values of
// repoconf.dat and whether the user configuration is in force ("User Defined BIN size").
// Every reader (the end of an acquisition, the report windows, the main window's bin list and
// menu mark) reads this object at each use; the windows change it only through it and are told
// of every change.

#include <filesystem>
#include <vector>

#include "common/dialogs.hpp"
#include "reports/report_bin.hpp"
#include "reports/report_settings.hpp"

namespace kestrova::reports {

class ReportConfig;

// Told after every change of the report settings or of the user-defined flag.
class ReportConfigObserver {
public:
  virtual ~ReportConfigObserver() = default;
  virtual void report_config_changed(const ReportConfig& config) = 0;
};

class ReportConfig {
public:
  explicit ReportConfig(std::filesystem::path data_folder = {});
  ReportConfig(const ReportConfig&) = delete;
  ReportConfig& operator=(const ReportConfig&) = delete;

  const std::filesystem::path& data_folder() const { return data_folder_; }
  void set_data_folder(std::filesystem::path folder) { data_folder_ = std::move(folder); }

  const ReportSettings& settings() const { return settings_; }
  // True while the user configuration is in force (the menu's "User Defined BIN size" mark):
  // an acquisition then ends with its automatic report.
  bool user_defined() const { return user_defined_; }
  // What the main window's bin list shows.
  ReportBinChoice bin_choice() const { return {user_defined_, settings_.Bin}; }

  // Start-up: reads repoconf.dat without writing or showing anything. A missing or damaged
  // file gives the defaults, not user-defined; a value out of range gives its default.
  void read();
  // load_report_settings(flag) into this object; returns the file's User_defined (or 0). The
  // flag in force changes only through apply() and back_to_default().
  int load(int flag, common::Dialogs& dialogs);
  // The report window's load: the user configuration when it is in force, else the defaults
  // (which rewrites the file with them).
  void load_for_report(common::Dialogs& dialogs);
  // The menu's "User Defined BIN size": stores again the configuration the flag stands for.
  void store_current(common::Dialogs& dialogs);
  // The settings window's "Apply": the new values, stored with User_defined 1; the user
  // configuration is in force from now on. False when the file could not be written (the
  // message was shown; the values apply to this session all the same).
  bool apply(const ReportSettings& settings, common::Dialogs& dialogs);
  // "Back to Default": the defaults, stored with User_defined 0; the flag is cleared.
  void back_to_default(common::Dialogs& dialogs);

  // Observers are not owned; one added twice is told once.
  void add_observer(ReportConfigObserver* observer);
  void remove_observer(ReportConfigObserver* observer);

private:
  void changed();

  std::filesystem::path data_folder_;
  ReportSettings settings_;
  bool user_defined_ = false;
  std::vector<ReportConfigObserver*> observers_;
};

} // namespace kestrova::reports
