#pragma once

// A data folder with projects and acquisitions made on disk, and a browser over it.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "browser/browser_session.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/fake_shell.hpp"
#include "support/temp_dir.hpp"

namespace kestrova::browser {

class BrowserTest : public ::testing::Test {
protected:
  const std::filesystem::path& data() const { return tmp_.path(); }
  // Project n with setup.dat naming it `name`.
  std::filesystem::path project(int n, const std::string& name);
  // An acquisition folder of project n with counts.bin (unless told), subproj.dat and the
  // copies of the project files (default values).
  std::filesystem::path acquisition(int n, const std::string& folder, const std::string& title,
                                    bool counts = true, const std::string& comments = {});
  // The texts of the browser's lines.
  std::vector<std::string> texts() const { return browser_.line_texts(); }
  // The index of the first line holding `text`; fails the test when there is none.
  int line_with(const std::string& text) const;

  testing::TempDir tmp_;
  testing::FakeDialogs dialogs_;
  testing::FakeShell shell_;
  testing::FakeClock clock_{{2026, 3, 4, 15, 42, 7, 0}};
  ExperimentBrowser browser_{tmp_.path(), dialogs_, shell_, clock_};
};

} // namespace kestrova::browser
