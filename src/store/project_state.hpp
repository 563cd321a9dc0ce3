#pragma once

// The current-project state shared by the whole program: configuration numbers, the project
// folder, the setup values read from setup.dat, the channel tables, the group tables and the
// plate format with its well map. One instance is owned by App.

#include <array>
#include <filesystem>
#include <string>

#include "store/channel_tables.hpp"
#include "store/plate_format.hpp"

namespace kestrova::store {

// Number of tools in setup.dat and of Integer settings per tool.
inline constexpr int kToolCount = 6;
inline constexpr int kToolSettingCount = 6;

using ToolSettings = std::array<int, kToolSettingCount>;

// The values of setup.dat, with their defaults.
struct SetupValues {
  // Line 2 (Num_proj itself is not kept here: it is the current project number).
  std::string Name = "Default";
  std::string Working_folder; // with a trailing separator
  std::string Plate_format = "w96f";
  // Line 4.
  int Aq_mode = 1;
  int Aq_lapse = 30; // minutes
  int Sample_Rate = 99;
  int RT_Buffer = 500; // samples per channel
  int DSP_Method = 1;  // 0..3
  int DSP_Interval = 30;
  // Line 6.
  int Binary_Acq = 1;
  int Threshold_Counter = 300;
  int Cal_value = 80;
  int Cal_mode = 1;
  int Save_counts = 1;
  int Save_real = 1;
  // Line 8: tool flags 1..6 (index 0..5): calibration, light, temperature, reserved.
  std::array<int, kToolCount> tool_flags{1, 0, 0, 0, 0, 0};
  // Lines 10..20: tool k settings at index k - 1.
  //   tool 1: Organism, Enab_Cal, Enab_Zero, SNRx10, unused, unused
  //   tool 2: light enable, hour on, hour off, pulse count, pulse on, pulse off
  //   tool 3: temperature enable, temperature x10, unused...
  std::array<ToolSettings, kToolCount> tool_settings{{
      {0, 1, 1, 0, 0, 0},
      {0, 9, 21, 0, 0, 0},
      {0, 200, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0},
      {0, 0, 0, 0, 0, 0},
  }};

  friend bool operator==(const SetupValues&, const SetupValues&) = default;
};

// config.dat values (after corrections).
struct ConfigValues {
  int Actual_Project_Number = 1;
  int Last_Project = 1;
  int Serial_COM = 4;
  int Restart_Time = 0;

  friend bool operator==(const ConfigValues&, const ConfigValues&) = default;
};

// The current project, kept for the life of the program.
struct ProjectState {
  std::filesystem::path app_folder;     // the data folder (config.dat, plate files, project 0)
  ConfigValues config;                  // current/last project numbers, serial port
  std::filesystem::path project_folder; // no trailing separator
  SetupValues setup;
  ChannelTables channels; // enable flags and thresholds
  GroupTables groups;     // four sets of group names and channel groups; sets[0] is the main
  PlateFormat plate;      // geometry and well map of setup.Plate_format
};

} // namespace kestrova::store
