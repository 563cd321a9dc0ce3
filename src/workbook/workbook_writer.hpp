#pragma once

#include <atomic>
#include <charconv>
#include <cstdint>
#include <cstring>
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
#include "workbook/zip_writer.hpp"

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

// Appends `text` (UTF-8) with & < > " ' replaced by their entities. Characters that XML
// cannot carry (control characters, U+FFFE, U+FFFF) are written as _xHHHH_, the escape of
// spreadsheet text, so the part stays well-formed; the underscore of a literal _xHHHH_ is
// written as _x005F_ so that readers keep the text as it was.
void escape_text(std::string_view text, std::string& out);

// Name of the scratch folder inside the data folder.
inline constexpr std::string_view kScratchFolderName = "tmp_xlsx";

// Writes a one-sheet workbook row by row, so a large table never has to be held in memory:
// the worksheet streams into the scratch folder, the shared strings are kept once each in a
// hash map, and `finish` writes the other parts and zips the folder. Once `*interrupted`
// turns true, every part and the archive fail with ECANCELED at their next buffer, the
// archive's temporary is removed and `failed` turns true.
class WorkbookWriter {
public:
  WorkbookWriter(std::filesystem::path scratch_folder, NumberFormat format,
                 const std::atomic<bool>* interrupted = nullptr);

  // Replaces the scratch folder with a fresh one and starts the worksheet; every row will
  // be padded to `columns` cells.
  Status begin(std::size_t columns);

  void begin_row();
  void add_empty() { write_cell("\"/>", {}, {}); }
  void add_number(double value);
  // A number given as plain decimal text (see number_text), written as it stands.
  void add_number_text(std::string_view plain) { write_cell("\"><v>", plain, "</v></c>"); }
  // A text that reads as a number (with the writer's separators) and is not a code with a
  // leading zero is written as that number; any other non-empty text as a shared string.
  void add_text(std::string_view text);
  // A non-empty text already known not to be a number, written as a shared string.
  void add_string(std::string_view text) {
    char index[16];
    const auto r = std::to_chars(index, index + sizeof index, strings_.intern(text));
    write_cell("\" t=\"s\"><v>", {index, static_cast<std::size_t>(r.ptr - index)}, "</v></c>");
    ++string_cells_;
  }
  void end_row();

  // Closes the worksheet, writes the remaining parts and zips the scratch folder into
  // `workbook`. The scratch folder is left in place.
  Status finish(const std::filesystem::path& workbook, const common::CivilTime& stamp);

  // True once the worksheet can no longer be written (the error comes from `finish`).
  bool failed() const { return sheet_.failed(); }

  std::size_t string_cells() const { return string_cells_; }
  std::size_t unique_strings() const { return strings_.size(); }

private:
  // "<c r=" Q and the column letters: 6 + at most 14 letters for any std::size_t column.
  struct CellStart {
    char text[24];
    std::size_t size;
  };
  static constexpr std::size_t kRowTextSize = 24;

  void add_cell_start();
  void write_long_cell(const CellStart& start, std::string_view middle, std::string_view value,
                       std::string_view end);

  // Copies n bytes, sizeof(Word) <= n <= 2 * sizeof(Word), as two words that overlap.
  template <class Word> static void copy_two_words(char* to, const char* from, std::size_t n) {
    Word head{};
    Word tail{};
    std::memcpy(&head, from, sizeof head);
    std::memcpy(&tail, from + n - sizeof tail, sizeof tail);
    std::memcpy(to, &head, sizeof head);
    std::memcpy(to + n - sizeof tail, &tail, sizeof tail);
  }

  // Copies a short piece with at most two loads and two stores that overlap, never touching a
  // byte outside either range: cheaper than a call to memcpy for the few bytes of a cell.
  static void copy_piece(char* to, std::string_view piece) {
    const char* from = piece.data();
    const std::size_t n = piece.size();
    if (n > 16) {
      std::memcpy(to, from, n);
    } else if (n >= 8) {
      copy_two_words<std::uint64_t>(to, from, n);
    } else if (n >= 4) {
      copy_two_words<std::uint32_t>(to, from, n);
    } else if (n > 0) {
      to[0] = from[0];
      to[n / 2] = from[n / 2];
      to[n - 1] = from[n - 1];
    }
  }

  // One cell: "<c r=" Q, the reference, `middle`, `value`, `end`, assembled in place in the
  // output buffer (the many small pieces of a sheet cost a copy each otherwise). Inlined into
  // each kind of cell, so the fixed pieces are copied with sizes known when compiling.
  [[gnu::always_inline]] void write_cell(std::string_view middle, std::string_view value,
                                         std::string_view end) {
    if (column_ == cell_starts_.size()) add_cell_start();
    const CellStart& start = cell_starts_[column_++];
    const std::size_t room =
        sizeof start.text + kRowTextSize + middle.size() + value.size() + end.size();
    if (room > FileWriter::kBufferSize) {
      write_long_cell(start, middle, value, end);
      return;
    }
    char* p = sheet_.reserve(room);
    std::memcpy(p, start.text, sizeof start.text);
    p += start.size;
    std::memcpy(p, row_text_, kRowTextSize);
    p += row_text_size_;
    for (const std::string_view piece : {middle, value, end}) {
      copy_piece(p, piece);
      p += piece.size();
    }
    sheet_.commit(p);
  }
  Status write_part(std::string_view name, std::string_view content);
  Status close_part(FileWriter& out, std::string_view name);
  Status write_shared_strings();

  std::filesystem::path scratch_;
  NumberFormat format_;
  const std::atomic<bool>* interrupted_;
  FileWriter sheet_;
  std::size_t columns_ = 0;
  std::size_t column_ = 0;
  std::uint64_t row_ = 0;
  char row_text_[kRowTextSize] = {};
  std::size_t row_text_size_ = 0;
  std::string number_scratch_;
  std::vector<CellStart> cell_starts_;
  StringTable strings_;
  std::size_t string_cells_ = 0;
  std::vector<KnownPart> written_; // size and CRC of each part, for the zip step
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
