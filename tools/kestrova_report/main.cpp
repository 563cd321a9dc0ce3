// kestrova-report: report tasks without a display (CSV to workbook conversion, ...).
#include <cerrno>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <unistd.h>
#include <vector>

#include "commands.hpp"
#include "common/stderr_dialogs.hpp"
#include "workbook/folder.hpp"

namespace kestrova::tools {

namespace {

// Every subcommand of the program; a new one is one line here and one setup function.
constexpr Subcommand kSubcommands[] = {
    {"xlsx", "Convert a CSV report into an .xlsx workbook", setup_xlsx},
    {"generate", "Write the report of an acquisition folder", setup_generate},
    {"wells", "Export the binned activity as one text file per well or per channel", setup_wells},
    {"reanalyze", "Count the activity again from the real-time files, then write the report",
     setup_reanalyze},
};

} // namespace

int with_data_folder(const Context& context,
                     const std::function<int(const std::filesystem::path&)>& work) {
  if (context.data_dir) return work(*context.data_dir);
  std::error_code ec;
  const std::filesystem::path base = std::filesystem::temp_directory_path(ec);
  std::string pattern =
      ((ec ? std::filesystem::path("/tmp") : base) / "kestrova-report-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) {
    std::cerr << "kestrova-report: cannot create a temporary folder in " << base.string() << ": "
              << std::strerror(errno) << '\n';
    return 1;
  }
  const std::filesystem::path folder = pattern;
  const int code = work(folder);
  workbook::DeleteFolderRecursive(folder);
  return code;
}

int run(int argc, char** argv) {
  std::setlocale(LC_ALL, "");
  CLI::App app{"Kestrova report tool: report tasks without a display"};
  app.name("kestrova-report");
  std::string data_dir;
  app.add_option("--data-dir", data_dir,
                 "data folder for the scratch files (default: a temporary folder)")
      ->check(CLI::ExistingDirectory);
  app.require_subcommand(1);

  std::vector<std::pair<CLI::App*, Runner>> commands;
  for (const Subcommand& s : kSubcommands) {
    CLI::App* command = app.add_subcommand(s.name, s.description);
    commands.emplace_back(command, s.setup(*command));
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  }

  common::StderrDialogs dialogs("kestrova-report: ");
  common::SystemClock clock;
  Context context{data_dir.empty() ? std::nullopt : std::optional<std::filesystem::path>(data_dir),
                  dialogs, clock};
  for (auto& [command, runner] : commands) {
    if (command->parsed()) return runner(context);
  }
  return 2;
}

} // namespace kestrova::tools

int main(int argc, char** argv) { return kestrova::tools::run(argc, argv); }
