#include "store/record_file.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <fstream>
#include <iterator>
#include <sstream>

#include "common/number_format.hpp"
#include "common/rounding.hpp"
#include "common/safe_file.hpp"
#include "common/text_codec.hpp"

namespace kestrova::store {

namespace {

bool is_line_end(char c) { return c == '\r' || c == '\n'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim(std::string_view s) {
  while (!s.empty() && is_blank(s.front()))
    s.remove_prefix(1);
  while (!s.empty() && is_blank(s.back()))
    s.remove_suffix(1);
  return s;
}

bool iequals(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           const auto up = [](char c) { return c >= 'a' && c <= 'z' ? char(c - 'a' + 'A') : c; };
           return up(x) == up(y);
         });
}

// The power of ten of the first significant digit of a well-formed unsigned number
// ("1E400" -> 400, ".001" -> -3); only its sign matters, to tell underflow from overflow.
long decimal_magnitude(std::string_view text) {
  long exponent = 0;
  const auto e = text.find_first_of("eE");
  if (e != std::string_view::npos) {
    std::string_view digits = text.substr(e + 1);
    const bool negative = !digits.empty() && digits.front() == '-';
    if (!digits.empty() && (digits.front() == '+' || digits.front() == '-'))
      digits.remove_prefix(1);
    for (const char c : digits)
      exponent = std::min(exponent * 10 + (c - '0'), 1000000L);
    if (negative) exponent = -exponent;
    text = text.substr(0, e);
  }
  long position = 0; // digits before the point, counted from the first significant one
  bool seen_point = false;
  bool significant = false;
  for (const char c : text) {
    if (c == '.') {
      seen_point = true;
      continue;
    }
    if (c != '0') significant = true;
    if (!seen_point && significant) ++position;
    if (seen_point && !significant) --position;
  }
  return position + exponent;
}

// Accepts [+-] digits [. digits] [E [+-] digits] with at least one mantissa digit;
// an empty text is 0. nullopt when the text is not a finite number.
std::optional<double> parse_number(std::string_view text) {
  text = trim(text);
  if (text.empty()) return 0.0;
  bool negative = false;
  if (text.front() == '+' || text.front() == '-') {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  std::size_t i = 0;
  std::size_t mantissa_digits = 0;
  while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
    ++i, ++mantissa_digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
      ++i, ++mantissa_digits;
  }
  if (mantissa_digits == 0) return std::nullopt;
  if (i < text.size() && (text[i] == 'E' || text[i] == 'e')) {
    ++i;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
    std::size_t exponent_digits = 0;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])))
      ++i, ++exponent_digits;
    if (exponent_digits == 0) return std::nullopt;
  }
  if (i != text.size()) return std::nullopt;
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec == std::errc::result_out_of_range && decimal_magnitude(text) < 0) return 0.0;
  if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
    return std::nullopt;
  }
  return negative ? -value : value;
}

} // namespace

// ---------------------------------------------------------------- writing

std::string record_safe_text(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == '"')
      c = '\'';
    else if (is_line_end(c))
      c = ' ';
  }
  return out;
}

std::string format_field(const Field& field) {
  struct Visitor {
    std::string operator()(const std::string& s) const { return "\"" + record_safe_text(s) + "\""; }
    std::string operator()(int i) const {
      return std::to_string(std::clamp(i, kIntegerMin, kIntegerMax));
    }
    std::string operator()(double d) const { return common::format_record_real(d); }
    std::string operator()(bool b) const { return b ? "#TRUE#" : "#FALSE#"; }
  };
  return std::visit(Visitor{}, field.value());
}

RecordWriter& RecordWriter::record(std::initializer_list<Field> fields) {
  for (const Field& f : fields)
    field(f);
  return end_record();
}

RecordWriter& RecordWriter::field(const Field& f) {
  if (in_record_) text_.push_back(',');
  text_ += format_field(f);
  in_record_ = true;
  return *this;
}

RecordWriter& RecordWriter::end_record() {
  text_ += "\r\n";
  in_record_ = false;
  return *this;
}

RecordWriter& RecordWriter::line(std::string_view text) {
  if (in_record_) end_record();
  text_ += text;
  text_ += "\r\n";
  return *this;
}

bool RecordWriter::save(const fs::path& file) const { return save_file_atomically(file, text_); }

// ---------------------------------------------------------------- reading

RecordReader::RecordReader(std::string text) : text_(std::move(text)) {}

std::optional<RecordReader> RecordReader::open(const fs::path& file) {
  auto text = read_text_file(file);
  if (!text) return std::nullopt;
  return RecordReader(std::move(*text));
}

std::optional<std::string> RecordReader::fail() {
  failed_ = true;
  return std::nullopt;
}

bool RecordReader::consume_line_end() {
  if (pos_ >= text_.size() || !is_line_end(text_[pos_])) return false;
  if (text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') ++pos_;
  ++pos_;
  ++line_;
  return true;
}

std::optional<std::string> RecordReader::next_raw_field() {
  if (failed_) return std::nullopt;
  while (pos_ < text_.size() && is_blank(text_[pos_]))
    ++pos_;
  if (pos_ >= text_.size()) return fail();

  std::string value;
  if (text_[pos_] == '"') {
    const auto close = text_.find('"', pos_ + 1);
    const auto end = close == std::string::npos ? text_.size() : close;
    value = text_.substr(pos_ + 1, end - pos_ - 1);
    for (std::size_t i = 0; i < value.size(); ++i) {
      if (value[i] == '\n' || (value[i] == '\r' && (i + 1 >= value.size() || value[i + 1] != '\n')))
        ++line_;
    }
    pos_ = close == std::string::npos ? text_.size() : close + 1;
    while (pos_ < text_.size() && text_[pos_] != ',' && !is_line_end(text_[pos_]))
      ++pos_;
  } else {
    const auto start = pos_;
    while (pos_ < text_.size() && text_[pos_] != ',' && !is_line_end(text_[pos_]))
      ++pos_;
    std::string_view raw(text_.data() + start, pos_ - start);
    while (!raw.empty() && is_blank(raw.back()))
      raw.remove_suffix(1);
    value = std::string(raw);
  }
  if (pos_ < text_.size() && text_[pos_] == ',') {
    ++pos_;
  } else {
    consume_line_end();
  }
  return value;
}

std::optional<std::string> RecordReader::read_string() { return next_raw_field(); }

std::optional<double> RecordReader::read_real() {
  auto raw = next_raw_field();
  if (!raw) return std::nullopt;
  auto value = parse_number(*raw);
  if (!value) {
    failed_ = true;
    return std::nullopt;
  }
  return value;
}

std::optional<int> RecordReader::read_integer() {
  auto value = read_real();
  if (!value) return std::nullopt;
  const double rounded = common::round_half_even(*value);
  if (rounded < kIntegerMin || rounded > kIntegerMax) {
    failed_ = true;
    return std::nullopt;
  }
  return static_cast<int>(rounded);
}

std::optional<bool> RecordReader::read_boolean() {
  auto raw = next_raw_field();
  if (!raw) return std::nullopt;
  const std::string_view text = trim(*raw);
  if (iequals(text, "#TRUE#")) return true;
  if (iequals(text, "#FALSE#")) return false;
  auto value = parse_number(text);
  if (!value) {
    failed_ = true;
    return std::nullopt;
  }
  return *value != 0.0;
}

std::optional<std::string> RecordReader::read_line() {
  if (failed_) return std::nullopt;
  if (pos_ >= text_.size()) return fail();
  const auto start = pos_;
  while (pos_ < text_.size() && !is_line_end(text_[pos_]))
    ++pos_;
  std::string line = text_.substr(start, pos_ - start);
  consume_line_end();
  return line;
}

bool RecordReader::read_into(std::string& out) {
  auto v = read_string();
  if (v) out = std::move(*v);
  return v.has_value();
}

bool RecordReader::read_into(int& out) {
  auto v = read_integer();
  if (v) out = *v;
  return v.has_value();
}

bool RecordReader::read_into(double& out) {
  auto v = read_real();
  if (v) out = *v;
  return v.has_value();
}

bool RecordReader::read_into(bool& out) {
  auto v = read_boolean();
  if (v) out = *v;
  return v.has_value();
}

// ---------------------------------------------------------------- files

std::optional<std::string> read_file_bytes(const fs::path& file) {
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) return std::nullopt;
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream buffer;
  buffer << in.rdbuf();
  if (in.bad()) return std::nullopt;
  return std::move(buffer).str();
}

std::optional<std::string> read_text_file(const fs::path& file) {
  auto bytes = read_file_bytes(file);
  if (!bytes) return std::nullopt;
  return common::decode_text(*bytes);
}

std::optional<std::vector<std::string>> read_text_lines(const fs::path& file) {
  auto text = read_text_file(file);
  if (!text) return std::nullopt;
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text->size()) {
    std::size_t end = text->find_first_of("\r\n", start);
    if (end == std::string::npos) end = text->size();
    lines.push_back(text->substr(start, end - start));
    if (end + 1 < text->size() && (*text)[end] == '\r' && (*text)[end + 1] == '\n') ++end;
    start = end + 1;
  }
  return lines;
}

int CountLines(const fs::path& file) {
  const auto bytes = read_file_bytes(file);
  if (!bytes || bytes->empty()) return 0;
  long lines = 0;
  const std::string& b = *bytes;
  for (std::size_t i = 0; i < b.size(); ++i) {
    if (b[i] == '\n' || (b[i] == '\r' && (i + 1 >= b.size() || b[i + 1] != '\n'))) ++lines;
  }
  if (!is_line_end(b.back())) ++lines;
  return lines > kIntegerMax ? 0 : static_cast<int>(lines);
}

bool FileExists(const fs::path& file) {
  std::error_code ec;
  return fs::is_regular_file(file, ec);
}

namespace {

// True when `file` exists and may not be replaced: not a regular file, or read-only.
bool is_protected(const fs::path& file) {
  std::error_code ec;
  const auto st = fs::symlink_status(file, ec);
  if (ec || !fs::exists(st)) return false;
  const auto target = fs::status(file, ec);
  if (ec || !fs::is_regular_file(target)) return true;
  return (target.permissions() & fs::perms::owner_write) == fs::perms::none;
}

} // namespace

bool save_file_atomically(const fs::path& file, std::string_view bytes) {
  if (is_protected(file)) return false;
  return common::write_file_atomically(file, bytes);
}

int CopyWithResult(const fs::path& source, const fs::path& target) {
  const auto bytes = read_file_bytes(source);
  if (!bytes) return -1;
  return save_file_atomically(target, *bytes) ? 1 : -1;
}

fs::path backup_path(const fs::path& file) {
  fs::path bak = file;
  bak.replace_extension(".bak");
  return bak;
}

bool RewriteWithBackup(const fs::path& file, std::string_view bytes) {
  (void)CopyWithResult(file, backup_path(file));
  return save_file_atomically(file, bytes);
}

bool EditThroughBackup(const fs::path& file, common::Dialogs& dialogs,
                       const std::function<std::optional<std::string>(const std::string&)>& edit) {
  const fs::path bak = backup_path(file);
  if (CopyWithResult(file, bak) != 1) {
    dialogs.message("error");
    return false;
  }
  const auto text = read_text_file(bak);
  if (!text) return false;
  const auto changed = edit(*text);
  if (!changed) return false;
  return save_file_atomically(file, *changed);
}

} // namespace kestrova::store
