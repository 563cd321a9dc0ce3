#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <sys/wait.h>

#include "support/temp_dir.hpp"
#include "support/run_command.hpp"
#include "workbook/xlsx_probe.hpp"

namespace kestrova::tools {
namespace {

namespace fs = std::filesystem;
using testing::TempDir;
using testing::write_file;

// Runs kestrova-report with `args` (already quoted) and the given environment prefix.
testing::CommandRun run_report(const std::string& args, const std::string& env = "LC_ALL=C") {
  return testing::run_command("env " + env + " '" + std::string(KESTROVA_REPORT_EXE) + "' " + args);
}

std::string q(const fs::path& p) { return "'" + p.string() + "'"; }

TEST(KestrovaReport, ConvertsWithTheLocaleListSeparatorAndCleansUp) {
  TempDir tmp;
  fs::create_directory(tmp / "scratch_parent");
  write_file(tmp / "r.csv", "Time,Value\n0,1.5\n");
  const testing::CommandRun r = run_report("xlsx " + q(tmp / "r.csv") + " " + q(tmp / "r.xlsx"),
                                  "LC_ALL=C TMPDIR=" + q(tmp / "scratch_parent"));
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_EQ(r.output, "");
  EXPECT_TRUE(fs::is_empty(tmp / "scratch_parent")) << "the temporary data folder is removed";

  KESTROVA_PROBE_OR_SKIP(probe, tmp / "r.xlsx");
  EXPECT_NE(probe.output.find("cell A1 s 'Time'\ncell B1 s 'Value'\ncell A2 n 0\ncell B2 n 1.5\n"),
            std::string::npos)
      << probe.output;
}

TEST(KestrovaReport, UsesTheGivenSeparatorAndDataFolder) {
  TempDir tmp;
  write_file(tmp / "r.csv", "a;b\n");
  const testing::CommandRun r = run_report("--data-dir " + q(tmp.path()) + " xlsx " + q(tmp / "r.csv") +
                                  " " + q(tmp / "r.xlsx") + " --separator ';'");
  EXPECT_EQ(r.exit_code, 0) << r.output;
  EXPECT_TRUE(fs::exists(tmp / "r.xlsx"));
  EXPECT_NE(testing::read_file(tmp / "tmp_xlsx" / "xl" / "worksheets" / "sheet1.xml")
                .find("<c r=\"B1\" t=\"s\">"),
            std::string::npos)
      << "the scratch folder stays in the data folder";
}

TEST(KestrovaReport, FailuresExitNonZeroWithAClearMessage) {
  TempDir tmp;
  const testing::CommandRun missing = run_report("xlsx " + q(tmp / "none.csv") + " " + q(tmp / "r.xlsx"));
  EXPECT_NE(missing.exit_code, 0);
  EXPECT_EQ(missing.output, "kestrova-report: Error en Convertir_csv_xlsx: No such file or "
                            "directory: " +
                                (tmp / "none.csv").string() + "\n");
  EXPECT_FALSE(fs::exists(tmp / "r.xlsx"));

  write_file(tmp / "empty.csv", "");
  const testing::CommandRun empty = run_report("xlsx " + q(tmp / "empty.csv") + " " + q(tmp / "r.xlsx"));
  EXPECT_NE(empty.exit_code, 0);
  EXPECT_NE(empty.output.find("El archivo CSV est\xC3\xA1 vac\xC3\xADo"), std::string::npos);

  const testing::CommandRun no_command = run_report("");
  EXPECT_NE(no_command.exit_code, 0);
  const testing::CommandRun too_few = run_report("xlsx " + q(tmp / "empty.csv"));
  EXPECT_NE(too_few.exit_code, 0);
  EXPECT_NE(too_few.output.find("XLSX_FILE"), std::string::npos) << too_few.output;
  const testing::CommandRun bad_dir = run_report("--data-dir " + q(tmp / "nope") + " xlsx a.csv b.xlsx");
  EXPECT_NE(bad_dir.exit_code, 0);
}

} // namespace
} // namespace kestrova::tools
