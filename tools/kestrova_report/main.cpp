// kestrova-report: report tasks without a display (CSV to workbook conversion, ...).
#include <atomic>
#include <cerrno>
#include <clocale>
#include <csignal>
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
    {"restore", "Put back the counts and setup recorded live after reanalyze --replace",
     setup_restore},
    {"list", "List the projects and acquisitions of the data folder, one tab-separated line each",
     setup_list},
    {"tag", "Add a kinetic-group tag to an acquisition, or clear its tags", setup_tag},
    {"joint", "Write the joint report of a project's acquisitions that carry a tag", setup_joint},
    {"track", "Write the travel distances of the animals of a w6 acquisition", setup_track},
    {"log", "Print the event log of an acquisition folder", setup_log},
};

// What a signal handler may reach has to live outside every object: the stop request the work
// reads and the number of the signal that set it. Both are lock-free, so the handler may touch
// them.
common::Cancellation interrupted;
std::atomic<int> interrupt_signal{0};
std::atomic<bool> signalled{false};
static_assert(std::atomic<bool>::is_always_lock_free && std::atomic<int>::is_always_lock_free);

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The first signal asks the work to stop and clean up; a second one ends the program at once.
extern "C" void on_stop_signal(int signal_number) {
  if (signalled.exchange(true)) {
    std::signal(signal_number, SIG_DFL);
    std::raise(signal_number);
    return;
  }
  interrupt_signal.store(signal_number);
  interrupted.request();
}

const char* signal_name(int signal_number) {
  switch (signal_number) {
  case SIGINT:
    return "SIGINT";
  case SIGTERM:
    return "SIGTERM";
  default:
    return "SIGHUP";
  }
}

// A test hook: with KESTROVA_REPORT_STOP_AT_CHECK=N the program stops itself (SIGSTOP) at the
// N-th time the work reads the stop request, so a test can send a signal at a known point of
// the work instead of racing it.
void hold_at_check_for_tests() {
  const char* value = std::getenv("KESTROVA_REPORT_STOP_AT_CHECK");
  if (value == nullptr) return;
  const long at = std::strtol(value, nullptr, 10);
  if (at <= 0) return;
  interrupted.on_check([at, checks = 0L]() mutable {
    if (++checks == at) std::raise(SIGSTOP);
  });
}

void catch_stop_signals() {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (const int signal_number : kStopSignals)
    ::sigaction(signal_number, &action, nullptr);
}

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
                  dialogs, clock, &interrupted};
  catch_stop_signals();
  hold_at_check_for_tests();
  for (auto& [command, runner] : commands) {
    if (!command->parsed()) continue;
    const int code = runner(context);
    // Work that ended after a signal stopped at a block and cleaned up after itself; work that
    // was past its last block when the signal came has finished and says so with code 0.
    if (code != 0 && interrupt_signal.load() != 0) {
      const int number = interrupt_signal.load();
      std::cerr << "kestrova-report: interrupted by " << signal_name(number)
                << "; nothing was changed\n";
      return 128 + number;
    }
    return code;
  }
  return 2;
}

} // namespace kestrova::tools

int main(int argc, char** argv) { return kestrova::tools::run(argc, argv); }
