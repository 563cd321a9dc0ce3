#pragma once

// Record files: the comma-separated text format of every .dat settings, project and index
// file. A writer builds the whole file in memory and saves it atomically; a reader takes
// fields apart from the decoded text by the reading rules below.
//
// Reading rules: spaces and tabs before a field are skipped; a field that begins with a
// double quote ends at the next double quote (the rest up to the next comma or line end is
// discarded); an unquoted field ends at a comma or line end, trailing spaces removed; a
// reader that asks for more fields than a line holds continues on the next line; numbers
// accept leading zeros, a leading '+', ".5" and exponents; a Real read as Integer rounds
// half to even; an empty field is 0 or ""; reading past the end or a value that does not
// convert is a read error, after which the reader stays failed.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "common/dialogs.hpp"

namespace kestrova::store {

namespace fs = std::filesystem;

inline constexpr int kIntegerMin = -32768;
inline constexpr int kIntegerMax = 32767;

// One typed value of a record: String, Integer (16-bit), Real (double) or Boolean.
class Field {
public:
  using Value = std::variant<std::string, int, double, bool>;
  Field(std::string_view text) : value_(std::string(text)) {}
  Field(const char* text) : value_(std::string(text)) {}
  Field(const std::string& text) : value_(text) {}
  Field(int integer) : value_(integer) {}
  Field(double real) : value_(real) {}
  Field(bool boolean) : value_(boolean) {}
  const Value& value() const { return value_; }

private:
  Value value_;
};

// Text of a String field value: '"' becomes '\'' and CR/LF become spaces, so the value
// always reads back as one field of one line. Editors may use it to show what will be kept.
std::string record_safe_text(std::string_view text);

// The written form of one field: "text", -1, .5, #TRUE#. Integers outside the 16-bit range
// are saturated; a Real that is not finite is written 0.
std::string format_field(const Field& field);

// Builds the bytes of a record file: records of fields separated by commas, each ended by CR LF.
class RecordWriter {
public:
  // Appends one whole record.
  RecordWriter& record(std::initializer_list<Field> fields);
  // Appends one field to the record being built (a comma goes before all but the first).
  RecordWriter& field(const Field& field);
  // Ends the record being built with CR LF.
  RecordWriter& end_record();
  // Appends a plain line as it is (no quotes added) followed by CR LF.
  RecordWriter& line(std::string_view text);
  // The bytes written so far.
  const std::string& text() const { return text_; }
  // Saves the bytes atomically over `file` (see save_file_atomically).
  bool save(const fs::path& file) const;

private:
  std::string text_;
  bool in_record_ = false;
};

// Reads fields and lines from the text of a record file.
class RecordReader {
public:
  // Reads from already decoded text (UTF-8).
  explicit RecordReader(std::string text);
  // Reads and decodes `file` (UTF-8 when valid, else Windows-1252); nullopt when unreadable.
  static std::optional<RecordReader> open(const fs::path& file);

  // The next field as text (numbers yield their text).
  std::optional<std::string> read_string();
  // The next field as a 16-bit Integer (a Real is rounded half to even).
  std::optional<int> read_integer();
  // The next field as a Real.
  std::optional<double> read_real();
  // The next field as a Boolean: #TRUE#/#FALSE# (a number is true when not 0).
  std::optional<bool> read_boolean();
  // The rest of the current line, without its line end.
  std::optional<std::string> read_line();

  // Reads several fields into typed destinations; false on the first read error.
  template <typename... Ts> bool read(Ts&... destinations) {
    return (read_into(destinations) && ...);
  }

  // True when nothing but the end of the text remains.
  bool at_end() const { return pos_ >= text_.size(); }
  // True once a read error has happened.
  bool failed() const { return failed_; }
  // Number of whole lines consumed so far (1-based line of the next field).
  int line_number() const { return line_ + 1; }

private:
  bool read_into(std::string& out);
  bool read_into(int& out);
  bool read_into(double& out);
  bool read_into(bool& out);
  std::optional<std::string> next_raw_field();
  bool consume_line_end();
  std::optional<std::string> fail();

  std::string text_;
  std::size_t pos_ = 0;
  int line_ = 0;
  bool failed_ = false;
};

// Number of lines in `file`; 0 when missing, unreadable or longer than 32767 lines.
int CountLines(const fs::path& file);

// True when a regular file (not a folder) of that name exists.
bool FileExists(const fs::path& file);

// Copies source over target; 1 on success, -1 on any failure (a read-only target included).
int CopyWithResult(const fs::path& source, const fs::path& target);

// Writes `bytes` to a scratch file beside `file`, flushes it to disk and renames it over `file`
// (common::write_file_atomically); false (leaving `file` untouched) on any failure, or when
// `file` is read-only, a symbolic link or not a regular file.
bool save_file_atomically(const fs::path& file, std::string_view bytes);

// Reads a whole file as bytes; nullopt when missing or unreadable.
std::optional<std::string> read_file_bytes(const fs::path& file);

// Reads a whole text file decoded to UTF-8; nullopt when missing or unreadable.
std::optional<std::string> read_text_file(const fs::path& file);

// The lines of a text file (read as read_text_file does) without their line ends: CR LF, LF or
// a lone CR.
std::optional<std::vector<std::string>> read_text_lines(const fs::path& file);

// The .bak companion of a .dat file: same folder, same base name.
fs::path backup_path(const fs::path& file);

// Full save with backup: copies `file` over its .bak (a failed copy is ignored), then saves
// `bytes` atomically. Returns the result of the save.
bool RewriteWithBackup(const fs::path& file, std::string_view bytes);

// Field edit through the backup: copies `file` over its .bak; when that fails shows "error"
// and leaves `file` as it was. Otherwise `edit` turns the text of the .bak into the new text
// (nullopt cancels) and `file` is saved anew. Returns true when `file` was rewritten.
bool EditThroughBackup(const fs::path& file, common::Dialogs& dialogs,
                       const std::function<std::optional<std::string>(const std::string&)>& edit);

} // namespace kestrova::store
