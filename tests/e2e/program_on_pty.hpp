#pragma once
// Set-up shared by the tests that run the headless program against the virtual instrument on
// a pty.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "app/session.hpp"
#include "device/serial_ports.hpp"
#include "sim/pty_server.hpp"
#include "store/data_template.hpp"
#include "store/project_files.hpp"
#include "support/fake_dialogs.hpp"

namespace kestrova::testing {

// Writes a data folder as a first run leaves it: the template and the default project.
inline ::testing::AssertionResult write_fresh_data_folder(const std::filesystem::path& data) {
  FakeDialogs quiet;
  store::WriteDataFolderTemplate(data, quiet);
  store::ProjectState fresh;
  if (!store::SaveProject(fresh, data, 0, 0, quiet))
    return ::testing::AssertionFailure() << "the default project could not be saved";
  return ::testing::AssertionSuccess();
}

// Options for a program on `data` that only sees the DATA/ports/COMn links and, since the
// instrument answers at once, gives up on a missing reply quickly.
inline app::AppOptions pty_program_options(const std::filesystem::path& data,
                                           bool autorun = false) {
  app::AppOptions o;
  o.data_dir = data;
  o.autorun = autorun;
  o.port_sources = {};
  device::CommTimeouts t;
  t.read_interval_ms = 5;
  t.read_total_constant_ms = 15;
  o.port_timeouts = t;
  return o;
}

// Starts `server` and links its pty as DATA/ports/COM<port>.
inline ::testing::AssertionResult serve_on(sim::PtyServer& server,
                                           const std::filesystem::path& data, int port) {
  std::string error;
  if (!server.start(&error) ||
      !server.link(data / "ports" / ("COM" + std::to_string(port)), &error))
    return ::testing::AssertionFailure() << error;
  return ::testing::AssertionSuccess();
}

} // namespace kestrova::testing
