// The desktop program: command line, data folder, then the start screen.
#include <QApplication>
#include <QStyleFactory>
#include <cstdio>
#include <cstdlib>

#include "app/app.hpp"
#include "app/command_line.hpp"
#include "app/data_folder.hpp"
#include "app/version.hpp"
#include "common/clock.hpp"
#include "ui/qt_dialogs.hpp"
#include "ui/qt_event_pump.hpp"
#include "ui/qt_shell.hpp"

#ifndef KESTROVA_BUILD_DATA_DIR
#define KESTROVA_BUILD_DATA_DIR ""
#endif

int main(int argc, char** argv) {
  using namespace kestrova;
  std::vector<std::string> args(argv + 1, argv + argc);
  const app::CommandLine cli = app::parse_command_line(args);
  if (cli.help) {
    std::fputs(app::usage_text("kestrova").c_str(), stdout);
    return 0;
  }
  if (cli.version) {
    std::printf("kestrova %s\n", app::version_banner().c_str());
    return 0;
  }
  if (!cli.error.empty()) {
    std::fprintf(stderr, "kestrova: %s\n%s", cli.error.c_str(),
                 app::usage_text("kestrova").c_str());
    return 2;
  }

  QApplication qt(argc, argv);
  QApplication::setStyle(QStyleFactory::create("Fusion"));
  QApplication::setApplicationName("Kestrova");
  QApplication::setQuitOnLastWindowClosed(false);

  const app::DataFolderChoice folder =
      app::choose_data_folder(cli.data_dir, std::getenv("KESTROVA_HOME"), std::getenv("HOME"));
  const auto exe_dir = std::filesystem::path(QCoreApplication::applicationDirPath().toStdString());
  ui::QtDialogs dialogs;
  const app::DataFolderResult prepared = app::prepare_data_folder(
      folder, app::find_data_template(exe_dir, KESTROVA_BUILD_DATA_DIR), dialogs);
  if (const std::string problem = app::data_folder_problem(folder, prepared); !problem.empty()) {
    std::fprintf(stderr, "kestrova: %s\n", problem.c_str());
    static_cast<common::Dialogs&>(dialogs).message(problem, common::Buttons::Ok,
                                                   common::Icon::Error);
    return 1;
  }

  ui::QtEventPump pump;
  common::SystemClock clock;
  ui::QtShell shell(folder.folder);
  app::Services services{dialogs, pump, clock, shell};

  app::AppOptions options;
  options.data_dir = folder.folder;
  options.autorun = cli.autorun;
  options.exit_when_complete = cli.exit_when_complete;
  options.relaunch = cli.relaunched;
  app::App program(std::move(options), services);
  if (program.start() != app::LoadOutcome::Ready) return 1;
  if (program.state().ended) return program.exit_status();
  const int rc = QApplication::exec();
  return program.exit_status() != 0 ? program.exit_status() : rc;
}
