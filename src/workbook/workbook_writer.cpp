#include "workbook/workbook_writer.hpp"

#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>

#include "workbook/folder.hpp"
#include "workbook/package_parts.hpp"
#include "workbook/zip_writer.hpp"

namespace kestrova::workbook {
namespace fs = std::filesystem;

namespace {

constexpr std::array<const char*, 5> kScratchSubfolders = {"xl", "xl/worksheets", "xl/_rels",
                                                           "_rels", "docProps"};

// Bytes that escape_text must look at: the five entities, the control characters other than
// tab, LF and CR, the lead byte of U+FFFE and U+FFFF, and the underscore of a literal _xHHHH_.
constexpr std::array<bool, 256> special_table() {
  std::array<bool, 256> t{};
  for (int c = 0; c < 0x20; ++c)
    t[c] = c != '\t' && c != '\n' && c != '\r';
  for (const unsigned char c : {'&', '<', '>', '"', '\'', '_'})
    t[c] = true;
  t[0xEF] = true;
  return t;
}
constexpr std::array<bool, 256> kSpecial = special_table();

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}

// Whether `text` starts with _xHHHH_, which a spreadsheet reader would take for an escape.
bool starts_with_escape(std::string_view text) {
  return text.size() >= 7 && text[0] == '_' && text[1] == 'x' && is_hex_digit(text[2]) &&
         is_hex_digit(text[3]) && is_hex_digit(text[4]) && is_hex_digit(text[5]) && text[6] == '_';
}

} // namespace

std::string column_letters(std::size_t k) {
  std::string s;
  while (k > 0) {
    s.insert(s.begin(), static_cast<char>('A' + (k - 1) % 26));
    k = (k - 1) / 26;
  }
  return s;
}

void escape_text(std::string_view text, std::string& out) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::size_t run = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (!kSpecial[c]) continue;
    std::string_view replacement;
    std::size_t length = 1;
    char control[8] = {'_', 'x', '0', '0', kHex[c >> 4], kHex[c & 0xF], '_', 0};
    switch (c) {
    case '&':
      replacement = "&amp;";
      break;
    case '<':
      replacement = "&lt;";
      break;
    case '>':
      replacement = "&gt;";
      break;
    case '"':
      replacement = "&quot;";
      break;
    case '\'':
      replacement = "&apos;";
      break;
    case '_': // keeps a literal _xHHHH_ from being read as an escape
      if (!starts_with_escape(text.substr(i))) continue;
      replacement = "_x005F_";
      break;
    case 0xEF: // U+FFFE and U+FFFF (EF BF BE, EF BF BF) are not XML characters
      if (i + 2 >= text.size() || text[i + 1] != '\xBF' ||
          (text[i + 2] != '\xBE' && text[i + 2] != '\xBF'))
        continue;
      replacement = text[i + 2] == '\xBE' ? "_xFFFE_" : "_xFFFF_";
      length = 3;
      break;
    default:
      replacement = {control, 7};
    }
    out.append(text.data() + run, i - run);
    out += replacement;
    i += length - 1;
    run = i + 1;
  }
  out.append(text.data() + run, text.size() - run);
}

WorkbookWriter::WorkbookWriter(fs::path scratch_folder, NumberFormat format,
                               const std::atomic<bool>* interrupted)
    : scratch_(std::move(scratch_folder)), format_(std::move(format)), interrupted_(interrupted) {
  sheet_.stop_when(interrupted_);
}

Status WorkbookWriter::begin(std::size_t columns) {
  if (Status s = DeleteFolderRecursive(scratch_)) return s;
  std::error_code ec;
  fs::create_directories(scratch_, ec);
  for (const char* sub : kScratchSubfolders) {
    if (!ec) fs::create_directories(scratch_ / sub, ec);
  }
  if (ec) return Error{ec.value(), ec.message() + ": " + scratch_.string()};
  columns_ = columns;
  cell_starts_.clear();
  row_ = 0;
  strings_.clear();
  string_cells_ = 0;
  written_.clear();
  if (Status s = sheet_.open(scratch_ / "xl" / "worksheets" / "sheet1.xml")) return s;
  sheet_.track_crc();
  sheet_.write(parts::kBom);
  sheet_.write(parts::sheet_start());
  return std::nullopt;
}

void WorkbookWriter::begin_row() {
  ++row_;
  column_ = 0;
  const auto r = std::to_chars(row_text_, row_text_ + sizeof row_text_, row_);
  row_text_size_ = static_cast<std::size_t>(r.ptr - row_text_);
  sheet_.write("<row r=\"", 8);
  sheet_.write(row_text_, row_text_size_);
  sheet_.write("\">", 2);
}

void WorkbookWriter::add_cell_start() {
  const std::string text = "<c r=\"" + column_letters(cell_starts_.size() + 1);
  CellStart start{};
  std::memcpy(start.text, text.data(), text.size());
  start.size = text.size();
  cell_starts_.push_back(start);
}

// Kept out of line: the rare path of a cell too long for the buffer.
[[gnu::noinline]] void WorkbookWriter::write_long_cell(const CellStart& start,
                                                       std::string_view middle,
                                                       std::string_view value,
                                                       std::string_view end) {
  sheet_.write(start.text, start.size);
  sheet_.write(row_text_, row_text_size_);
  sheet_.write(middle);
  sheet_.write(value);
  sheet_.write(end);
}

void WorkbookWriter::add_number(double value) {
  char text[kNumberTextMax];
  if (!std::isfinite(value)) {
    // Not a number a spreadsheet can hold; keep what it said as text.
    add_text(std::isnan(value) ? "NaN" : (value > 0 ? "Infinity" : "-Infinity"));
    return;
  }
  add_number_text({text, format_number(value, text)});
}

void WorkbookWriter::add_text(std::string_view text) {
  if (text.empty()) {
    add_empty();
    return;
  }
  const std::string_view trimmed = trim_spaces(text);
  if (!looks_like_code(trimmed)) {
    if (const auto plain = number_text(trimmed, format_, number_scratch_)) {
      add_number_text(*plain);
      return;
    }
  }
  add_string(text);
}

void WorkbookWriter::end_row() {
  while (column_ < columns_)
    add_empty();
  sheet_.write("</row>\r\n", 8);
}

Status WorkbookWriter::close_part(FileWriter& out, std::string_view name) {
  if (Status s = out.close()) return s;
  if (const auto summary = out.summary()) {
    written_.push_back({std::string(name), summary->size, summary->crc});
  }
  return std::nullopt;
}

Status WorkbookWriter::write_part(std::string_view name, std::string_view content) {
  FileWriter out;
  out.stop_when(interrupted_);
  if (Status s = out.open(scratch_ / name)) return s;
  out.track_crc();
  out.write(parts::kBom);
  out.write(content);
  return close_part(out, name);
}

Status WorkbookWriter::write_shared_strings() {
  FileWriter out;
  out.stop_when(interrupted_);
  if (Status s = out.open(scratch_ / "xl" / "sharedStrings.xml")) return s;
  out.track_crc();
  out.write(parts::kBom);
  out.write(parts::shared_strings_start(string_cells_, strings_.size()));
  std::string escaped;
  for (std::size_t i = 0; i < strings_.size(); ++i) {
    escaped.clear();
    escape_text(strings_[i], escaped);
    out.write("<si><t xml:space=\"preserve\">");
    out.write(escaped);
    out.write("</t></si>\r\n");
  }
  out.write(parts::kSharedStringsEnd);
  return close_part(out, "xl/sharedStrings.xml");
}

Status WorkbookWriter::finish(const fs::path& workbook, const common::CivilTime& stamp) {
  sheet_.write(parts::kSheetEnd);
  if (Status s = close_part(sheet_, "xl/worksheets/sheet1.xml")) return s;
  if (Status s = write_shared_strings()) return s;
  const std::pair<const char*, std::string> fixed[] = {
      {"xl/styles.xml", parts::styles()},
      {"xl/workbook.xml", parts::workbook()},
      {"xl/_rels/workbook.xml.rels", parts::workbook_relationships()},
      {"_rels/.rels", parts::package_relationships()},
      {"docProps/core.xml", parts::core_properties()},
      {"docProps/app.xml", parts::app_properties()},
      {"[Content_Types].xml", parts::content_types()},
  };
  for (const auto& [name, content] : fixed) {
    if (Status s = write_part(name, content)) return s;
  }
  return zip_folder(scratch_, workbook, stamp, written_, {}, interrupted_);
}

void show_workbook_error(common::Dialogs& dialogs, const Error& error) {
  dialogs.message("Error al generar XLSX: " + std::to_string(error.number) + " - " +
                      error.description,
                  common::Buttons::Ok, common::Icon::Error);
}

bool write_workbook(const Table& table, const fs::path& workbook, const fs::path& data_folder,
                    const NumberFormat& format, common::Dialogs& dialogs, common::Clock& clock) {
  std::size_t columns = 0;
  for (const auto& row : table) {
    columns = std::max(columns, row.size());
  }
  Status status;
  try {
    WorkbookWriter writer(data_folder / kScratchFolderName, format);
    status = writer.begin(columns);
    if (!status) {
      for (const auto& row : table) {
        writer.begin_row();
        for (const Cell& cell : row) {
          if (cell.kind == Cell::Kind::Number) {
            writer.add_number(cell.number);
          } else if (cell.kind == Cell::Kind::Text) {
            writer.add_text(cell.text);
          } else {
            writer.add_empty();
          }
        }
        writer.end_row();
      }
      status = writer.finish(workbook, common::to_civil(clock.now()));
    }
  } catch (const std::exception& e) { // out of memory
    status = Error{ENOMEM, e.what()};
  }
  if (status) show_workbook_error(dialogs, *status);
  return !status;
}

} // namespace kestrova::workbook
