#pragma once

// Runs tests/workbook/xlsx_probe.py with the system's Python (zipfile and openpyxl) on a
// workbook and returns what it printed, so a test can compare it with what it expects.

#include <filesystem>
#include <string>

#include "support/run_command.hpp"

namespace kestrova::testing {

inline constexpr const char* kSystemPython = "/usr/bin/python3";

struct ProbeResult {
  bool available = false; // false when /usr/bin/python3 or openpyxl is missing
  int exit_code = -1;
  std::string output;
};

inline ProbeResult probe_xlsx(const std::filesystem::path& workbook) {
  ProbeResult r;
  if (!std::filesystem::exists(kSystemPython)) return r;
  const std::string script = std::string(KESTROVA_SOURCE_DIR) + "/tests/workbook/xlsx_probe.py";
  const CommandRun run =
      run_command(std::string(kSystemPython) + " '" + script + "' '" + workbook.string() + "'");
  r.exit_code = run.exit_code;
  r.output = run.output;
  r.available = r.exit_code != 3;
  return r;
}

} // namespace kestrova::testing

#define KESTROVA_PROBE_OR_SKIP(result, workbook)                                                   \
  const ::kestrova::testing::ProbeResult result = ::kestrova::testing::probe_xlsx(workbook);       \
  if (!result.available) GTEST_SKIP() << "needs /usr/bin/python3 with openpyxl";
