#pragma once
// Runs the built kestrova-report as a user's shell would.
#include <filesystem>
#include <string>

#include "support/run_command.hpp"

namespace kestrova::testing {

enum class ErrorOutput { Apart, Merged };

// Runs `kestrova-report ARGS` (ARGS quoted by the caller) with the environment `env`; with
// ErrorOutput::Merged its error output is captured with its output.
inline CommandRun run_report(const std::string& args, const std::string& env = "LC_ALL=C",
                             ErrorOutput errors = ErrorOutput::Apart) {
  return run_command("env " + env + " '" + std::string(KESTROVA_REPORT_EXE) + "' " + args +
                     (errors == ErrorOutput::Merged ? " 2>&1" : ""));
}

// A path quoted for the shell.
inline std::string q(const std::filesystem::path& p) { return "'" + p.string() + "'"; }

} // namespace kestrova::testing
