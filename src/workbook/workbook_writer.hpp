#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "common/clock.hpp"
#include "common/dialogs.hpp"
#include "workbook/error.hpp"
#include "workbook/file_writer.hpp"
#include "workbook/number_text.hpp"
#include "workbook/string_table.hpp"

namespace kestrova::workbook {

// One cell of a table: empty, a number or a text.
struct Cell {
  enum class Kind : std::uint8_t { Empty, Number, Text };
  Kind kind = Kind::Empty;
  double number = 0;
  std::string text;

  static Cell empty() { return {}; }
  static Cell of(double v) { return {Kind::Number, v, {}}; }
  static Cell of(std::string s) { return {Kind::Text, 0, std::move(s)}; }
};

// Rows of cells; rows shorter than the longest are padded with empty cells.
using Table = std::vector<std::vector<Cell>>;

// The column letters of column `k` (1 gives A, 26 Z, 27 AA, 703 AAA).
std::string column_letters(std::size_t k);

// Appends `text` with & < > " ' replaced by their entities. Control characters that XML
// cannot carry are written as _xHHHH_, the escape of spreadsheet text, so the part stays
// well-formed.
void escape_text(std::string_view text, std::string& out);

// Name of the scratch folder inside the data folder.
inline constexpr std::string_view kScratchFolderName = "tmp_xlsx";

// Writes a one-sheet workbook row by row, so a large table never has to be held in memory:
// the worksheet streams into the scratch folder, the shared strings are kept once each in a
// hash map, and `finish` writes the other parts and zips the folder.
class WorkbookWriter {
public:
  WorkbookWriter(std::filesystem::path scratch_folder, NumberFormat format);

  // Replaces the scratch folder with a fresh one and starts the worksheet; every row will
  // be padded to `columns` cells.
  Status begin(std::size_t columns);

  void begin_row();
  void add_empty();
  void add_number(double value);
  // A number given as plain decimal text (see number_text), written as it stands.
  void add_number_text(std::string_view plain);
  // A text that reads as a number (with the writer's separators) and is not a code with a
  // leading zero is written as that number; any other non-empty text as a shared string.
  void add_text(std::string_view text);
  void end_row();

  // Closes the worksheet, writes the remaining parts and zips the scratch folder into
  // `workbook`. The scratch folder is left in place.
  Status finish(const std::filesystem::path& workbook, const common::CivilTime& stamp);

  std::size_t string_cells() const { return string_cells_; }
  std::size_t unique_strings() const { return strings_.size(); }

private:
  void cell_start();
  void write_number_cell(const char* text, std::size_t size);
  Status write_shared_strings();

  std::filesystem::path scratch_;
  NumberFormat format_;
  FileWriter sheet_;
  std::size_t columns_ = 0;
  std::size_t column_ = 0;
  std::uint64_t row_ = 0;
  char row_text_[24] = {};
  std::size_t row_text_size_ = 0;
  std::string number_scratch_;
  std::vector<std::string> letters_;
  StringTable strings_;
  std::size_t string_cells_ = 0;
};

// Writes `table` as a workbook at `workbook`, through the scratch folder
// `data_folder`/tmp_xlsx. Failures are shown with `dialogs` as "Error al generar XLSX: "
// + number + " - " + description; returns true when the workbook was written.
bool write_workbook(const Table& table, const std::filesystem::path& workbook,
                    const std::filesystem::path& data_folder, const NumberFormat& format,
                    common::Dialogs& dialogs, common::Clock& clock);

// Shows a workbook writer failure with the error icon.
void show_workbook_error(common::Dialogs& dialogs, const Error& error);

} // namespace kestrova::workbook
