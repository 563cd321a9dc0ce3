#include <gtest/gtest.h>

#include "support/fake_clock.hpp"
#include "support/fake_dialogs.hpp"
#include "support/temp_dir.hpp"
#include "workbook/string_table.hpp"
#include "workbook/workbook_writer.hpp"
#include "workbook/xlsx_probe.hpp"
#include "workbook/zip_reader.hpp"

namespace kestrova::workbook {
namespace {

namespace fs = std::filesystem;
using testing::read_file;
using testing::TempDir;

const std::string kBom = "\xEF\xBB\xBF";
const std::string kDecl = "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";
const std::string kSml = "http://schemas.openxmlformats.org/spreadsheetml/2006/main";
const std::string kOrel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";

std::string sheet(const std::string& rows) {
  return kBom + kDecl + "<worksheet xmlns=\"" + kSml + "\" xmlns:r=\"" + kOrel +
         "\"><sheetData>\r\n" + rows + "</sheetData></worksheet>";
}

std::string shared(int count, int unique, const std::string& items) {
  return kBom + kDecl + "<sst xmlns=\"" + kSml + "\" count=\"" + std::to_string(count) +
         "\" uniqueCount=\"" + std::to_string(unique) + "\">\r\n" + items + "</sst>";
}

Cell text(const char* s) { return Cell::of(std::string(s)); }

struct Fixture {
  TempDir tmp;
  testing::FakeDialogs dialogs;
  testing::FakeClock clock{{2026, 3, 15, 13, 45, 59, 0}};

  bool write(const Table& table, const NumberFormat& format = {}) {
    return write_workbook(table, tmp / "book.xlsx", tmp.path(), format, dialogs, clock);
  }
  std::string part(const std::string& name) { return read_file(tmp / "tmp_xlsx" / name); }
};

TEST(ColumnLetters, Table) {
  const std::pair<std::size_t, const char*> cases[] = {
      {1, "A"},   {2, "B"},   {26, "Z"},   {27, "AA"},   {28, "AB"},
      {52, "AZ"}, {53, "BA"}, {702, "ZZ"}, {703, "AAA"}, {16384, "XFD"}};
  for (const auto& [k, letters] : cases)
    EXPECT_EQ(column_letters(k), letters) << k;
}

TEST(StringTable, NumbersStayFixedWhileTheTableGrows) {
  StringTable table;
  for (int i = 0; i < 5000; ++i) {
    ASSERT_EQ(table.intern("s" + std::to_string(i)), static_cast<std::uint32_t>(i));
  }
  for (int i = 4999; i >= 0; --i) {
    ASSERT_EQ(table.intern("s" + std::to_string(i)), static_cast<std::uint32_t>(i));
  }
  EXPECT_EQ(table.intern(""), 5000u);
  EXPECT_EQ(table.intern("S1"), 5001u) << "compared with case";
  EXPECT_EQ(table.size(), 5002u);
  EXPECT_EQ(table[1234], "s1234");
}

TEST(EscapeText, EntitiesAndControlCharacters) {
  const std::pair<const char*, const char*> cases[] = {
      {"plain", "plain"},
      {"A&B<C", "A&amp;B&lt;C"},
      {"> \" '", "&gt; &quot; &apos;"},
      {"&amp;", "&amp;amp;"},
      {"tab\tline\r\n", "tab\tline\r\n"},
      {"bell\x07", "bell_x0007_"},
      // U+FFFE and U+FFFF are not XML characters; U+FFFD, U+FEFF and a cut sequence are kept.
      {"a\xEF\xBF\xBE"
       "b",
       "a_xFFFE_b"},
      {"\xEF\xBF\xBF", "_xFFFF_"},
      {"\xEF\xBF\xBD\xEF\xBB\xBF", "\xEF\xBF\xBD\xEF\xBB\xBF"},
      {"\xEF\xBF", "\xEF\xBF"},
      // A literal escape keeps its text; other underscores stay as they are.
      {"_x0041_", "_x005F_x0041_"},
      {"x_x00e9_x", "x_x005F_x00e9_x"},
      {"001_Control_x12_", "001_Control_x12_"},
      {"_x004G_", "_x004G_"},
  };
  for (const auto& [in, out] : cases) {
    std::string escaped;
    escape_text(in, escaped);
    EXPECT_EQ(escaped, out) << in;
  }
}

TEST(WriteWorkbook, WritesEveryPartByteForByte) {
  Fixture f;
  ASSERT_TRUE(
      f.write({{text("Time"), text("A&B<C"), Cell::of(12.5)}, {Cell::of(1), Cell::empty()}}));
  EXPECT_TRUE(f.dialogs.messages().empty());

  EXPECT_EQ(f.part("xl/worksheets/sheet1.xml"),
            sheet("<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c>"
                  "<c r=\"C1\"><v>12.5</v></c></row>\r\n"
                  "<row r=\"2\"><c r=\"A2\"><v>1</v></c><c r=\"B2\"/><c r=\"C2\"/></row>\r\n"));
  EXPECT_EQ(f.part("xl/sharedStrings.xml"),
            shared(2, 2,
                   "<si><t xml:space=\"preserve\">Time</t></si>\r\n"
                   "<si><t xml:space=\"preserve\">A&amp;B&lt;C</t></si>\r\n"));
  EXPECT_EQ(f.part("xl/styles.xml"),
            kBom + kDecl + "<styleSheet xmlns=\"" + kSml + "\">" +
                "<fonts count=\"1\"><font><sz val=\"11\"/><name val=\"Calibri\"/></font></fonts>"
                "<fills count=\"2\"><fill><patternFill patternType=\"none\"/></fill>"
                "<fill><patternFill patternType=\"gray125\"/></fill></fills>"
                "<borders count=\"1\"><border><left/><right/><top/><bottom/><diagonal/>"
                "</border></borders>"
                "<cellStyleXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
                "borderId=\"0\"/></cellStyleXfs>"
                "<cellXfs count=\"1\"><xf numFmtId=\"0\" fontId=\"0\" fillId=\"0\" "
                "borderId=\"0\" xfId=\"0\"/></cellXfs>"
                "<cellStyles count=\"1\"><cellStyle name=\"Normal\" xfId=\"0\" "
                "builtinId=\"0\"/></cellStyles></styleSheet>");
  EXPECT_EQ(f.part("xl/workbook.xml"),
            kBom + kDecl + "<workbook xmlns=\"" + kSml + "\" xmlns:r=\"" + kOrel + "\">" +
                "<sheets><sheet name=\"Hoja1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
  const std::string rels = "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                           "relationships\">";
  EXPECT_EQ(f.part("xl/_rels/workbook.xml.rels"),
            kBom + kDecl + rels + "<Relationship Id=\"rId1\" Type=\"" + kOrel +
                "/worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"rId2\" "
                "Type=\"" +
                kOrel +
                "/styles\" Target=\"styles.xml\"/><Relationship Id=\"rId3\" "
                "Type=\"" +
                kOrel +
                "/sharedStrings\" Target=\"sharedStrings.xml\"/>"
                "</Relationships>");
  EXPECT_EQ(f.part("_rels/.rels"),
            kBom + kDecl + rels + "<Relationship Id=\"rId1\" Type=\"" + kOrel +
                "/officeDocument\" Target=\"xl/workbook.xml\"/><Relationship Id=\"rId2\" "
                "Type=\"http://schemas.openxmlformats.org/package/2006/relationships/metadata/"
                "core-properties\" Target=\"docProps/core.xml\"/><Relationship Id=\"rId3\" "
                "Type=\"" +
                kOrel +
                "/extended-properties\" Target=\"docProps/app.xml\"/>"
                "</Relationships>");
  EXPECT_EQ(f.part("docProps/core.xml"),
            kBom + kDecl +
                "<cp:coreProperties xmlns:cp=\"http://schemas.openxmlformats.org/package/2006/"
                "metadata/core-properties\" xmlns:dc=\"http://purl.org/dc/elements/1.1/\" "
                "xmlns:dcterms=\"http://purl.org/dc/terms/\" "
                "xmlns:dcmitype=\"http://purl.org/dc/dcmitype/\" "
                "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
                "<dc:title>Kestrova report</dc:title><dc:creator>Kestrova</dc:creator>"
                "</cp:coreProperties>");
  EXPECT_EQ(f.part("docProps/app.xml"),
            kBom + kDecl +
                "<Properties xmlns=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                "extended-properties\" xmlns:vt=\"http://schemas.openxmlformats.org/"
                "officeDocument/2006/docPropsVTypes\"><Application>Kestrova</Application>"
                "</Properties>");
  const std::string ct = "application/vnd.openxmlformats-";
  EXPECT_EQ(f.part("[Content_Types].xml"),
            kBom + "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n" +
                "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\">"
                "<Default Extension=\"rels\" ContentType=\"" +
                ct +
                "package.relationships+xml\"/><Default Extension=\"xml\" "
                "ContentType=\"application/xml\"/>"
                "<Override PartName=\"/xl/workbook.xml\" ContentType=\"" +
                ct +
                "officedocument.spreadsheetml.sheet.main+xml\"/>"
                "<Override PartName=\"/xl/worksheets/sheet1.xml\" ContentType=\"" +
                ct +
                "officedocument.spreadsheetml.worksheet+xml\"/>"
                "<Override PartName=\"/xl/sharedStrings.xml\" ContentType=\"" +
                ct +
                "officedocument.spreadsheetml.sharedStrings+xml\"/>"
                "<Override PartName=\"/xl/styles.xml\" ContentType=\"" +
                ct +
                "officedocument.spreadsheetml.styles+xml\"/>"
                "<Override PartName=\"/docProps/core.xml\" ContentType=\"" +
                ct +
                "package.core-properties+xml\"/>"
                "<Override PartName=\"/docProps/app.xml\" ContentType=\"" +
                ct + "officedocument.extended-properties+xml\"/></Types>");

  // The archive holds exactly the scratch files, in the package order.
  const auto z = testing::read_zip(read_file(f.tmp / "book.xlsx"));
  ASSERT_TRUE(z.ok) << z.problem;
  std::vector<std::string> names;
  for (const auto& e : z.entries) {
    names.push_back(e.name);
    EXPECT_EQ(e.data, f.part(e.name)) << e.name;
  }
  EXPECT_EQ(names, (std::vector<std::string>{
                       "[Content_Types].xml", "docProps/app.xml", "docProps/core.xml",
                       "xl/sharedStrings.xml", "xl/styles.xml", "xl/workbook.xml",
                       "xl/worksheets/sheet1.xml", "xl/_rels/workbook.xml.rels", "_rels/.rels"}));
}

TEST(WriteWorkbook, CellEdgeCases) {
  struct Case {
    const char* what;
    Table table;
    NumberFormat format;
    std::string rows;
    std::string strings;
  };
  const Case cases[] = {
      {"one empty cell",
       {{Cell::empty()}},
       {},
       "<row r=\"1\"><c r=\"A1\"/></row>\r\n",
       shared(0, 0, "")},
      {"an empty text is an empty cell",
       {{text("")}},
       {},
       "<row r=\"1\"><c r=\"A1\"/></row>\r\n",
       shared(0, 0, "")},
      {"same text three times",
       {{text("x"), text("x")}, {text("x")}},
       {},
       "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>0</v></c></row>\r\n"
       "<row r=\"2\"><c r=\"A2\" t=\"s\"><v>0</v></c><c r=\"B2\"/></row>\r\n",
       shared(3, 1, "<si><t xml:space=\"preserve\">x</t></si>\r\n")},
      {"codes stay text, numeric texts become numbers",
       {{text("0042"), text("0.5"), text(" 42 ")}},
       {},
       "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\"><v>0.5</v></c>"
       "<c r=\"C1\"><v>42</v></c></row>\r\n",
       shared(1, 1, "<si><t xml:space=\"preserve\">0042</t></si>\r\n")},
      {"numeric texts read with the locale's separators",
       {{text("12,5"), text("1.234,5")}},
       {",", "."},
       "<row r=\"1\"><c r=\"A1\"><v>12.5</v></c><c r=\"B1\"><v>1234.5</v></c></row>\r\n",
       shared(0, 0, "")},
      {"texts compare with case",
       {{text("a"), text("A")}},
       {},
       "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\"><v>1</v></c></row>\r\n",
       shared(2, 2,
              "<si><t xml:space=\"preserve\">a</t></si>\r\n"
              "<si><t xml:space=\"preserve\">A</t></si>\r\n")},
  };
  for (const Case& c : cases) {
    Fixture f;
    ASSERT_TRUE(f.write(c.table, c.format)) << c.what;
    EXPECT_EQ(f.part("xl/worksheets/sheet1.xml"), sheet(c.rows)) << c.what;
    EXPECT_EQ(f.part("xl/sharedStrings.xml"), c.strings) << c.what;
  }

  Fixture wide;
  ASSERT_TRUE(wide.write({std::vector<Cell>(27, Cell::empty()), {}}));
  Table row(1, std::vector<Cell>(27, Cell::empty()));
  row[0].push_back(Cell::of(7));
  ASSERT_TRUE(wide.write(row));
  EXPECT_NE(wide.part("xl/worksheets/sheet1.xml").find("<c r=\"AB1\"><v>7</v></c></row>"),
            std::string::npos);

  // Values of every length from 1 to 40 characters land whole and in place.
  Table lengths(1);
  std::string expected = "<row r=\"1\">";
  std::string digits;
  for (std::size_t k = 1; k <= 40; ++k) {
    digits += static_cast<char>('0' + k % 10);
    const std::string value = "9" + digits.substr(1);
    lengths[0].push_back(Cell::of(value));
    expected += "<c r=\"" + column_letters(k) + "1\"><v>" + value + "</v></c>";
  }
  Fixture numbers;
  ASSERT_TRUE(numbers.write(lengths));
  EXPECT_EQ(numbers.part("xl/worksheets/sheet1.xml"), sheet(expected + "</row>\r\n"));
}

TEST(WriteWorkbook, StartsFromAFreshScratchFolder) {
  Fixture f;
  fs::create_directories(f.tmp / "tmp_xlsx" / "xl");
  testing::write_file(f.tmp / "tmp_xlsx" / "xl" / "stale.xml", "old");
  ASSERT_TRUE(f.write({{Cell::of(1)}}));
  const auto z = testing::read_zip(read_file(f.tmp / "book.xlsx"));
  ASSERT_TRUE(z.ok);
  EXPECT_EQ(z.entries.size(), 9u);
  EXPECT_FALSE(fs::exists(f.tmp / "tmp_xlsx" / "xl" / "stale.xml"));
}

TEST(WriteWorkbook, ShowsTheErrorWhenTheWorkbookCannotBeWritten) {
  Fixture f;
  EXPECT_FALSE(write_workbook({{Cell::of(1)}}, f.tmp / "no_such_folder" / "book.xlsx", f.tmp.path(),
                              {}, f.dialogs, f.clock));
  ASSERT_EQ(f.dialogs.transcript().size(), 1u);
  const auto& shown = f.dialogs.transcript()[0];
  EXPECT_EQ(shown.text, "Error al generar XLSX: 2 - No such file or directory: " +
                            (f.tmp / "no_such_folder" / "book.xlsx").string());
  EXPECT_EQ(shown.icon, common::Icon::Error);
}

TEST(WriteWorkbook, OpensInOpenpyxlWithTheValuesAndTypesWritten) {
  Fixture f;
  ASSERT_TRUE(f.write({{text("Group"), text("0042"), text("A&B<C \xC3\xA9"), Cell::empty()},
                       {Cell::of(-12.25), Cell::of(0.5), text("Group"), Cell::of(1e21)}}));
  KESTROVA_PROBE_OR_SKIP(probe, f.tmp / "book.xlsx");
  EXPECT_EQ(probe.exit_code, 0) << probe.output;
  const std::string expected_cells =
      "sheet Hoja1\n"
      "cell A1 s 'Group'\ncell B1 s '0042'\ncell C1 s 'A&B<C \xC3\xA9'\ncell D1 n None\n"
      "cell A2 n -12.25\ncell B2 n 0.5\ncell C2 s 'Group'\ncell D2 n 1e+21\n";
  EXPECT_NE(probe.output.find("testzip: None\n"), std::string::npos) << probe.output;
  EXPECT_NE(probe.output.find(expected_cells), std::string::npos) << probe.output;
}

TEST(WriteWorkbook, TextsWithCharactersXmlForbidsStillOpen) {
  Fixture f;
  ASSERT_TRUE(f.write({{text("a\xEF\xBF\xBE"
                             "b"),
                        text("c\xEF\xBF\xBF"), text("_x0041_"), text("bell\x07")}}));
  KESTROVA_PROBE_OR_SKIP(probe, f.tmp / "book.xlsx");
  EXPECT_EQ(probe.exit_code, 0) << probe.output;
  for (const char* cell : {"cell A1 s ", "cell B1 s ", "cell C1 s '_x0041_'\n", "cell D1 s "})
    EXPECT_NE(probe.output.find(cell), std::string::npos) << cell << "\n" << probe.output;
}

} // namespace
} // namespace kestrova::workbook
