#pragma once

#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "common/cancellation.hpp"
#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "common/shell.hpp"
#include "reports/generate_report.hpp"

namespace kestrova::tools {

// What every subcommand gets: the options shared by all, the side-effect interfaces, and the
// stop request that SIGINT, SIGTERM or SIGHUP sets: long work stops at its next block, removes
// its scratch files and leaves every other file as it was. A subcommand that stopped so returns
// a non-zero code; the program then says that nothing was changed.
struct Context {
  std::optional<std::filesystem::path> data_dir; // --data-dir, when given
  common::Dialogs& dialogs;
  common::Clock& clock;
  const common::Cancellation* cancel = nullptr;
};

// A subcommand registers its arguments on `command` and returns the action that runs it
// after parsing; the action returns the process exit code.
using Runner = std::function<int(Context&)>;
using Setup = Runner (*)(CLI::App& command);

struct Subcommand {
  const char* name;
  const char* description;
  Setup setup;
};

// Runs `work` with a data folder: --data-dir when given, otherwise a fresh temporary folder
// (under $TMPDIR) that is removed afterwards, also when the work was interrupted.
int with_data_folder(const Context& context,
                     const std::function<int(const std::filesystem::path&)>& work);

// A report request for `folder` with the settings of repoconf.dat in `data_folder` (the
// defaults when that file is missing or incomplete); nothing is opened afterwards.
reports::GenerateRequest stored_report_request(const std::filesystem::path& data_folder,
                                               const std::filesystem::path& folder);

Runner setup_xlsx(CLI::App& command);
Runner setup_generate(CLI::App& command);
Runner setup_wells(CLI::App& command);
Runner setup_reanalyze(CLI::App& command);
Runner setup_restore(CLI::App& command);
Runner setup_list(CLI::App& command);
Runner setup_tag(CLI::App& command);
Runner setup_joint(CLI::App& command);
Runner setup_track(CLI::App& command);
Runner setup_log(CLI::App& command);

} // namespace kestrova::tools
