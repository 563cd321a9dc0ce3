#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestrova::app {

// What the program was asked to do on its command line.
struct CommandLine {
  bool autorun = false; // "/run", "/RUN" or "/Run" (trimmed), or --run
  std::optional<std::string> data_dir;
  bool help = false;
  bool version = false;
  bool exit_when_complete = false; // --exit-when-complete
  int relaunched = 0;              // --relaunched N: set by the program when it relaunches itself
  std::string error; // non-empty when an option is malformed (e.g. --data-dir without a folder)
};

// Parses the arguments after the program name. --run, --data-dir DIR (or --data-dir=DIR),
// --exit-when-complete, --relaunched N, --help and --version are taken out; the rest, joined by
// single spaces and trimmed of blanks, sets autorun when it is exactly "/run", "/RUN" or "/Run".
// Any other text is ignored.
CommandLine parse_command_line(const std::vector<std::string>& arguments);

// True when `text`, trimmed of blanks, is one of the accepted autorun switches.
bool is_autorun_switch(std::string_view text);

// The --help text.
std::string usage_text(std::string_view program);

} // namespace kestrova::app
