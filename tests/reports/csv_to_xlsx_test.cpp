#include <gtest/gtest.h>

#include <atomic>
#include <csignal>
#include <sys/resource.h>
#include <thread>

#include "common/safe_file.hpp"
#include "reports/csv_split.hpp"
#include "reports/csv_to_xlsx.hpp"
#include "reports/field_relay.hpp"
#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"
#include "workbook/xlsx_probe.hpp"

namespace kestrova::reports {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;
using testing::write_file;
using Rows = std::vector<std::vector<std::string>>;

Rows split(std::string_view text, std::string_view separator) {
  struct Collect {
    Rows rows{{}};
    void field(std::string_view f) { rows.back().emplace_back(f); }
    void end_row() { rows.emplace_back(); }
  } c;
  split_csv(text, separator, c);
  c.rows.pop_back();
  return c.rows;
}

TEST(SplitCsv, Cases) {
  struct Case {
    const char* what;
    std::string text;
    std::string separator;
    Rows rows;
  };
  const Case cases[] = {
      {"plain lines", "a,b\nc,d\n", ",", {{"a", "b"}, {"c", "d"}}},
      {"quoted separator stays in the field", "\"a,b\",c\n", ",", {{"a,b", "c"}}},
      {"doubled quote inside quotes", "\"say \"\"hi\"\"\"\n", ",", {{"say \"hi\""}}},
      {"line break inside quotes", "\"one\r\ntwo\",x\n", ",", {{"one\r\ntwo", "x"}}},
      {"CR LF counts once, lone CR and LF end rows",
       "a\r\nb\rc\nd",
       ",",
       {{"a"}, {"b"}, {"c"}, {"d"}}},
      {"empty line gives one empty field", "a\n\nb\n", ",", {{"a"}, {""}, {"b"}}},
      {"last line without a break", "a;b\nc;d", ";", {{"a", "b"}, {"c", "d"}}},
      {"trailing separator gives an empty last field", "a,", ",", {{"a", ""}}},
      {"quotes in the middle of a field", "ab\"c,d\"e,f", ",", {{"abc,de", "f"}}},
      {"quote at the very end closes", "\"a\"", ",", {{"a"}}},
      {"unterminated quote runs to the end", "\"a,b\nc", ",", {{"a,b\nc"}}},
      {"only an empty quoted field gives no row", "\"\"", ",", {}},
      {"separator of two characters never splits", "a;;b;c\n", ";;", {{"a;;b;c"}}},
      {"empty separator never splits", "a,b\n", "", {{"a,b"}}},
      {"tab separator", "a\tb\n", "\t", {{"a", "b"}}},
      {"one non-ASCII character as separator",
       "a\xC2\xA7"
       "b\xC2\xA7"
       "c",
       "\xC2\xA7",
       {{"a", "b", "c"}}},
      {"empty text", "", ",", {}},
  };
  for (const Case& c : cases)
    EXPECT_EQ(split(c.text, c.separator), c.rows) << c.what;
}

TEST(SplitCsv, FieldsOfEveryLengthEndAtTheRightByte) {
  // Runs are scanned eight bytes at a time: a separator, quote, CR or LF at every offset of
  // such a word, and near the end of the text, must end the field exactly there.
  std::string text;
  Rows expected;
  Rows whole_lines;
  for (std::size_t len = 0; len <= 20; ++len) {
    const std::string a(len, static_cast<char>('a' + len % 26));
    const std::string b(20 - len, 'z');
    text += a + ";" + b + ";" + a + "\"q\"" + b + (len % 2 ? "\r\n" : "\n");
    expected.push_back({a, b, a + "q" + b});
    whole_lines.push_back({a + ";" + b + ";" + a + "q" + b});
  }
  text += "tail;0123456789abcdef";
  expected.push_back({"tail", "0123456789abcdef"});
  whole_lines.push_back({"tail;0123456789abcdef"});
  EXPECT_EQ(split(text, ";"), expected);
  EXPECT_EQ(split(text, "\xC2\xA7"), whole_lines) << "a separator that does not occur";
}

TEST(SplitCsv, MeasureFindsRowsAndWidestRow) {
  const CsvShape shape = measure_csv("a,b\n\nc,d,e\nf", ",");
  EXPECT_EQ(shape.rows, 4u);
  EXPECT_EQ(shape.columns, 3u);
  const CsvShape first_two = measure_csv("a,b\n\nc,d,e\nf", ",", 2);
  EXPECT_EQ(first_two.rows, 2u);
  EXPECT_EQ(first_two.columns, 2u);
}

TEST(ClassifyField, TrimsAndReadsNumbersWithTheLocale) {
  using K = FieldValue::Kind;
  const workbook::NumberFormat comma{",", "."};
  const workbook::NumberFormat point{".", ","};
  struct Case {
    const char* field;
    const workbook::NumberFormat* format;
    K kind;
    const char* number; // the plain text written for a number
    const char* text;
  };
  const Case cases[] = {
      {"", &point, K::Empty, "", ""},
      {"   ", &point, K::Empty, "", ""},
      {" 12.5 ", &point, K::Number, "12.5", "12.5"},
      {"12,5", &comma, K::Number, "12.5", "12,5"},
      {"-1.234,5", &comma, K::Number, "-1234.5", "-1.234,5"},
      {"+,5", &comma, K::Number, "0.5", "+,5"},
      {"5,", &comma, K::Number, "5", "5,"},
      {"12,5", &point, K::Number, "125", "12,5"},
      {"1e3", &point, K::Number, "1e3", "1e3"},
      {"0042", &point, K::Text, "", "0042"},
      {"0.5", &point, K::Number, "0.5", "0.5"},
      {" 001_Ctl ", &point, K::Text, "", "001_Ctl"},
      {"B3", &point, K::Text, "", "B3"},
      {"1e999", &point, K::Text, "", "1e999"},
  };
  std::string scratch;
  for (const Case& c : cases) {
    const FieldValue v = classify_field(c.field, *c.format, scratch);
    EXPECT_EQ(v.kind, c.kind) << c.field;
    EXPECT_EQ(v.text, c.text) << c.field;
    EXPECT_EQ(v.number, c.number) << c.field;
  }
}

struct Conversion {
  TempDir tmp;
  testing::FakeDialogs dialogs;
  testing::FakeClock clock;

  bool run(std::string_view csv_bytes, std::string_view separator,
           const workbook::NumberFormat& format = {".", ","},
           Threading threading = Threading::Background) {
    write_file(tmp / "report.csv", csv_bytes);
    return Convertir_csv_xlsx(tmp / "report.csv", tmp / "report.xlsx", separator, tmp.path(),
                              format, dialogs, clock, threading);
  }
  std::string sheet() { return read_file(tmp / "tmp_xlsx" / "xl" / "worksheets" / "sheet1.xml"); }
};

TEST(ConvertirCsvXlsx, PadsShortRowsToTheWidestRow) {
  Conversion c;
  ASSERT_TRUE(c.run("a;b;c\r\n\r\n1;2", ";"));
  EXPECT_TRUE(c.dialogs.messages().empty());
  const std::string s = c.sheet();
  EXPECT_NE(s.find("<row r=\"2\"><c r=\"A2\"/><c r=\"B2\"/><c r=\"C2\"/></row>\r\n"
                   "<row r=\"3\"><c r=\"A3\"><v>1</v></c><c r=\"B3\"><v>2</v></c><c r=\"C3\"/>"
                   "</row>\r\n</sheetData>"),
            std::string::npos)
      << s;
}

// `rows` lines "t,1", except line `wider`, which has a third field.
std::string rows_with_one_wider(int rows, int wider) {
  std::string csv;
  for (int r = 1; r <= rows; ++r)
    csv += r == wider ? "t,1,2\n" : "t,1\n";
  return csv;
}

TEST(ConvertirCsvXlsx, AWideRowFarDownWidensEveryRow) {
  // The width of the first rows is tried first; row 29000 is wider, so the sheet is written
  // again (with several batches of fields still on their way to the writing thread) and the
  // strings of the first attempt are not counted twice.
  const std::string csv = rows_with_one_wider(30000, 29000);
  for (const Threading threading : {Threading::Background, Threading::Single}) {
    Conversion c;
    ASSERT_TRUE(c.run(csv, ",", {".", ","}, threading));
    const std::string s = c.sheet();
    EXPECT_NE(s.find("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\"><v>1</v></c>"
                     "<c r=\"C1\"/></row>\r\n"),
              std::string::npos);
    EXPECT_NE(s.find("<c r=\"C29000\"><v>2</v></c></row>\r\n<row r=\"29001\">"), std::string::npos);
    EXPECT_NE(s.find("<c r=\"C30000\"/></row>\r\n</sheetData>"), std::string::npos);
    const std::string strings = read_file(c.tmp / "tmp_xlsx" / "xl" / "sharedStrings.xml");
    EXPECT_NE(strings.find("count=\"30000\" uniqueCount=\"1\""), std::string::npos) << strings;
  }
}

TEST(ConvertirCsvXlsx, TheWritingThreadWritesWhatOneThreadWrites) {
  // More batches than the relay holds (so the splitting side waits for some to come back),
  // fields that must be copied out of the text (doubled quotes, numbers rewritten from the
  // locale's form) and one field large enough to fill a batch on its own.
  std::string csv = "Time;Group;Value;Note;Code;Empty\r\n";
  for (int r = 1; r <= 80000; ++r) {
    csv += std::to_string(r * 5) + ";\"G\"\"" + std::to_string(r % 7) + "\";" + std::to_string(r) +
           "." + std::to_string(r % 1000) + "," + std::to_string(r % 10) + ";\"n\"x;00" +
           std::to_string(r % 50) + "; \r\n";
  }
  csv += "last;\"" + std::string(FieldBatch::kSpill + 10, 'q') + "\"\"end\";1\r\n";
  Conversion background;
  ASSERT_TRUE(background.run(csv, ";", {",", "."}, Threading::Background));
  Conversion single;
  ASSERT_TRUE(single.run(csv, ";", {",", "."}, Threading::Single));
  const std::string sheet = background.sheet();
  EXPECT_EQ(sheet, single.sheet());
  EXPECT_EQ(read_file(background.tmp / "tmp_xlsx" / "xl" / "sharedStrings.xml"),
            read_file(single.tmp / "tmp_xlsx" / "xl" / "sharedStrings.xml"));
  // Row 80001: 400000;"G""4";80000.0,0;"n"x;000; (G"4 first seen in row 5, nx in row 2).
  EXPECT_NE(sheet.find("<row r=\"80001\"><c r=\"A80001\"><v>400000</v></c>"
                       "<c r=\"B80001\" t=\"s\"><v>13</v></c><c r=\"C80001\"><v>800000.0</v></c>"
                       "<c r=\"D80001\" t=\"s\"><v>7</v></c><c r=\"E80001\" t=\"s\"><v>"),
            std::string::npos);
  EXPECT_NE(sheet.find("<row r=\"80002\"><c r=\"A80002\" t=\"s\">"), std::string::npos);
  EXPECT_NE(sheet.find("<c r=\"C80002\"><v>1</v></c><c r=\"D80002\"/><c r=\"E80002\"/>"
                       "<c r=\"F80002\"/></row>"),
            std::string::npos);
  const std::string strings = read_file(background.tmp / "tmp_xlsx" / "xl" / "sharedStrings.xml");
  EXPECT_NE(strings.find("qqq&quot;end</t>"), std::string::npos);
}

TEST(FieldRelay, KeepsTheOrderAndLetsEitherSideStop) {
  // More batches than the relay holds pass through in order.
  {
    FieldRelay relay(2);
    std::vector<std::size_t> seen;
    std::thread consumer([&] {
      while (FieldBatch* b = relay.take_filled()) {
        seen.push_back(b->items.front().begin);
        relay.give_back(b);
      }
    });
    for (std::size_t i = 0; i < 50; ++i) {
      FieldBatch* b = relay.take_free();
      ASSERT_NE(b, nullptr);
      EXPECT_TRUE(b->items.empty());
      b->items.push_back({i, 0, FieldBatch::Kind::Empty, false});
      relay.hand_over(b);
    }
    relay.close();
    consumer.join();
    ASSERT_EQ(seen.size(), 50u);
    for (std::size_t i = 0; i < seen.size(); ++i)
      EXPECT_EQ(seen[i], i);
  }
  // A consumer that gives up frees a producer waiting for a batch.
  {
    FieldRelay relay(1);
    FieldBatch* b = relay.take_free();
    relay.hand_over(b);
    std::thread consumer([&] {
      relay.take_filled();
      relay.stop();
    });
    EXPECT_EQ(relay.take_free(), nullptr);
    consumer.join();
    EXPECT_EQ(relay.take_filled(), nullptr);
  }
}

TEST(FieldBatch, KeepsPlacesInTheTextAndCopiesTheRest) {
  const std::string text = "abc,def";
  const std::string elsewhere = "xyz";
  FieldBatch batch;
  batch.add(FieldBatch::Kind::Text, std::string_view(text).substr(4, 3), text);
  batch.add(FieldBatch::Kind::Number, elsewhere, text);
  batch.add(FieldBatch::Kind::Text, std::string_view(text).substr(0, 7), text);
  ASSERT_EQ(batch.items.size(), 3u);
  EXPECT_FALSE(batch.items[0].spilled);
  EXPECT_TRUE(batch.items[1].spilled);
  EXPECT_FALSE(batch.items[2].spilled);
  EXPECT_EQ(batch.value(batch.items[0], text), "def");
  EXPECT_EQ(batch.value(batch.items[1], text), "xyz");
  EXPECT_EQ(batch.value(batch.items[2], text), "abc,def");
}

TEST(ConvertirCsvXlsx, ReadsWindows1252AndDropsAByteOrderMark) {
  Conversion c;
  ASSERT_TRUE(c.run("\xE9t\xE9,\x80\n", ","));
  const std::string strings = read_file(c.tmp / "tmp_xlsx" / "xl" / "sharedStrings.xml");
  EXPECT_NE(strings.find(">\xC3\xA9t\xC3\xA9<"), std::string::npos) << strings;
  EXPECT_NE(strings.find(">\xE2\x82\xAC<"), std::string::npos) << strings;

  ASSERT_TRUE(c.run("\xEF\xBB\xBFTime,x\n", ","));
  EXPECT_NE(read_file(c.tmp / "tmp_xlsx" / "xl" / "sharedStrings.xml")
                .find("<si><t xml:space=\"preserve\">Time</t></si>"),
            std::string::npos);
}

TEST(ConvertirCsvXlsx, ShowsCsvErrorsAndMakesNoWorkbook) {
  Conversion c;
  EXPECT_FALSE(c.run("", ","));
  EXPECT_FALSE(fs::exists(c.tmp / "report.xlsx"));
  EXPECT_FALSE(Convertir_csv_xlsx(c.tmp / "missing.csv", c.tmp / "m.xlsx", ",", c.tmp.path(), {},
                                  c.dialogs, c.clock));
  EXPECT_FALSE(fs::exists(c.tmp / "m.xlsx"));
  ASSERT_EQ(c.dialogs.transcript().size(), 2u);
  EXPECT_EQ(c.dialogs.transcript()[0].text,
            "Error en Convertir_csv_xlsx: El archivo CSV est\xC3\xA1 vac\xC3\xADo");
  EXPECT_EQ(c.dialogs.transcript()[0].icon, common::Icon::Warning);
  EXPECT_EQ(c.dialogs.transcript()[1].text,
            "Error en Convertir_csv_xlsx: No such file or directory: " +
                (c.tmp / "missing.csv").string());
}

TEST(ConvertirCsvXlsx, WorkbookErrorsComeFromTheWriter) {
  Conversion c;
  write_file(c.tmp / "report.csv", "1\n");
  EXPECT_FALSE(Convertir_csv_xlsx(c.tmp / "report.csv", c.tmp / "nowhere" / "r.xlsx", ",",
                                  c.tmp.path(), {}, c.dialogs, c.clock));
  ASSERT_EQ(c.dialogs.messages().size(), 1u);
  EXPECT_EQ(c.dialogs.messages()[0].rfind("Error al generar XLSX: 2 - ", 0), 0u);
}

// While it lives, this process cannot write a file beyond `bytes`: a full disk for the test.
struct FileSizeLimit {
  rlimit old{};
  void (*old_handler)(int) = nullptr;
  explicit FileSizeLimit(rlim_t bytes) {
    old_handler = std::signal(SIGXFSZ, SIG_IGN); // a failed write instead of a signal
    ::getrlimit(RLIMIT_FSIZE, &old);
    rlimit limit = old;
    limit.rlim_cur = bytes;
    EXPECT_EQ(::setrlimit(RLIMIT_FSIZE, &limit), 0);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, old_handler);
  }
};

TEST(ConvertirCsvXlsx, ASheetTheDiskCannotHoldIsAnErrorOnEitherThread) {
  // The disk fills up after a few rows of many: the failure must be shown, the rest of the
  // text is not split for nothing, and no workbook is made.
  const std::string csv = rows_with_one_wider(30000, 29000);
  for (const Threading threading : {Threading::Background, Threading::Single}) {
    Conversion c;
    write_file(c.tmp / "report.csv", csv);
    bool made = true;
    {
      const FileSizeLimit full(64 << 10);
      made = Convertir_csv_xlsx(c.tmp / "report.csv", c.tmp / "report.xlsx", ",", c.tmp.path(),
                                {".", ","}, c.dialogs, c.clock, threading);
    }
    EXPECT_FALSE(made);
    EXPECT_FALSE(fs::exists(c.tmp / "report.xlsx"));
    ASSERT_EQ(c.dialogs.transcript().size(), 1u);
    EXPECT_EQ(c.dialogs.transcript()[0].text,
              "Error al generar XLSX: " + std::to_string(EFBIG) + " - File too large: " +
                  (c.tmp / "tmp_xlsx" / "xl" / "worksheets" / "sheet1.xml").string());
    EXPECT_EQ(c.dialogs.transcript()[0].icon, common::Icon::Error);
  }
}

// The old workbook stays until the new one is complete: a write that fails at any step of the
// archive, or is interrupted, leaves it whole and no scratch file behind; a stale scratch file
// of a killed conversion goes with the next one; a link in the workbook's place is refused.
TEST(ConvertirCsvXlsx, TheOldWorkbookStaysUntilTheNewOneReplacesIt) {
  Conversion c;
  ASSERT_TRUE(c.run("old", ";"));
  const std::string old_workbook = read_file(c.tmp / "report.xlsx");
  const auto scratch_left = [&] {
    for (const auto& e : fs::directory_iterator(c.tmp.path()))
      if (e.path().filename().string().starts_with(".report.xlsx.")) return true;
    return false;
  };
  const auto convert = [&](const std::atomic<bool>* interrupted = nullptr) {
    c.dialogs.clear();
    return Convertir_csv_xlsx(c.tmp / "report.csv", c.tmp / "report.xlsx", ";", c.tmp.path(),
                              {".", ","}, c.dialogs, c.clock, Threading::Single, interrupted);
  };
  write_file(c.tmp / "report.csv", "new");
  for (const common::FileStep failing :
       {common::FileStep::Create, common::FileStep::Sync, common::FileStep::Rename}) {
    SCOPED_TRACE(static_cast<int>(failing));
    const common::FileStepHook hook([&](common::FileStep step, const fs::path& file) {
      const bool archive =
          file.filename().string().starts_with(".report.xlsx.") || file.filename() == "report.xlsx";
      return step != failing || !archive;
    });
    EXPECT_FALSE(convert());
    EXPECT_EQ(read_file(c.tmp / "report.xlsx"), old_workbook);
    EXPECT_FALSE(scratch_left());
  }
  const std::atomic<bool> interrupted{true};
  EXPECT_FALSE(convert(&interrupted));
  EXPECT_EQ(read_file(c.tmp / "report.xlsx"), old_workbook);
  EXPECT_FALSE(scratch_left());

  write_file(c.tmp / ".report.xlsx.k3Jq9Z", "left by a kill");
  ASSERT_TRUE(convert());
  EXPECT_NE(read_file(c.tmp / "report.xlsx"), old_workbook);
  EXPECT_FALSE(scratch_left());

  write_file(c.tmp / "outside", "outside");
  fs::remove(c.tmp / "report.xlsx");
  fs::create_symlink(c.tmp / "outside", c.tmp / "report.xlsx");
  EXPECT_FALSE(convert());
  EXPECT_EQ(read_file(c.tmp / "outside"), "outside");
  EXPECT_EQ(c.dialogs.messages().back(), "Error al generar XLSX: " + std::to_string(ELOOP) + " - " +
                                             (c.tmp / "report.xlsx").string() +
                                             " is a symbolic link; it was not written");
}

TEST(ConvertirCsvXlsx, ReportOpensInOpenpyxl) {
  Conversion c;
  const std::string csv = "Time;\"Group; name\";Value\r\n"
                          "0;001_Ctl;12,5\r\n"
                          "\r\n"
                          "10;\"say \"\"A&B<C\"\"\";0042\r\n"
                          "20;001_Ctl;-1.234,5";
  ASSERT_TRUE(c.run(csv, ";", {",", "."}));
  KESTROVA_PROBE_OR_SKIP(probe, c.tmp / "report.xlsx");
  EXPECT_EQ(probe.exit_code, 0) << probe.output;
  const std::string expected = "sheet Hoja1\n"
                               "cell A1 s 'Time'\ncell B1 s 'Group; name'\ncell C1 s 'Value'\n"
                               "cell A2 n 0\ncell B2 s '001_Ctl'\ncell C2 n 12.5\n"
                               "cell A3 n None\ncell B3 n None\ncell C3 n None\n"
                               "cell A4 n 10\ncell B4 s 'say \"A&B<C\"'\ncell C4 s '0042'\n"
                               "cell A5 n 20\ncell B5 s '001_Ctl'\ncell C5 n -1234.5\n";
  EXPECT_NE(probe.output.find("testzip: None\n"), std::string::npos) << probe.output;
  EXPECT_NE(probe.output.find(expected), std::string::npos) << probe.output;
}

} // namespace
} // namespace kestrova::reports
