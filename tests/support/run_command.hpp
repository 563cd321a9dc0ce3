#pragma once

#include <string>

namespace kestrova::testing {

struct CommandRun {
  int exit_code = -1; // -1 when the command could not be started or did not exit normally
  std::string output; // standard output and standard error together
};

// Runs `command` through /bin/sh (arguments already quoted) and collects what it printed.
CommandRun run_command(const std::string& command);

} // namespace kestrova::testing
