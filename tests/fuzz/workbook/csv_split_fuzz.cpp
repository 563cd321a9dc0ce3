// Feeds arbitrary text to the CSV splitter, the field conversion and the XML escaping.
#include <charconv>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.hpp"
#include "reports/csv_split.hpp"
#include "reports/csv_to_xlsx.hpp"
#include "workbook/workbook_writer.hpp"

namespace kestrova::fuzz {
namespace {

constexpr std::string_view kSeparators[] = {",", ";", "\t", "", ";;", "\xC2\xA7", "\"", "\n"};
const kestrova::workbook::NumberFormat kFormats[] = {{".", ","}, {",", "."}, {",", ""}};

struct Checker {
  std::size_t text_size = 0;
  const kestrova::workbook::NumberFormat* format = nullptr;
  std::size_t rows = 0;
  std::size_t fields_in_row = 0;
  std::size_t widest = 0;
  std::size_t field_bytes = 0;
  std::string escaped;
  std::string scratch;

  void field(std::string_view f) {
    ++fields_in_row;
    field_bytes += f.size();
    check(field_bytes <= text_size);
    const auto v = kestrova::reports::classify_field(f, *format, scratch);
    if (v.kind == kestrova::reports::FieldValue::Kind::Number) {
      // The plain text must be a complete, finite number in "C" form.
      double value = 0;
      const auto [end, ec] =
          std::from_chars(v.number.data(), v.number.data() + v.number.size(), value);
      check(ec == std::errc{} && end == v.number.data() + v.number.size() && std::isfinite(value));
    }
    escaped.clear();
    kestrova::workbook::escape_text(f, escaped);
    for (const char c : escaped) {
      const auto u = static_cast<unsigned char>(c);
      check(c != '<' && c != '>' && c != '"' && c != '\'');
      check(u >= 0x20 || c == '\t' || c == '\n' || c == '\r');
    }
    // Nor the noncharacters U+FFFE and U+FFFF.
    check(escaped.find("\xEF\xBF\xBE") == std::string::npos &&
          escaped.find("\xEF\xBF\xBF") == std::string::npos);
  }
  void end_row() {
    ++rows;
    widest = std::max(widest, fields_in_row);
    check(fields_in_row >= 1);
    fields_in_row = 0;
  }
};

} // namespace
} // namespace kestrova::fuzz

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kestrova::fuzz;
  if (size == 0) return 0;
  const std::string_view separator = kSeparators[data[0] % std::size(kSeparators)];
  const auto& format = kFormats[(data[0] / 8) % std::size(kFormats)];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  Checker checker;
  checker.text_size = text.size();
  checker.format = &format;
  kestrova::reports::split_csv(text, separator, checker);
  const auto shape = kestrova::reports::measure_csv(text, separator);
  check(shape.rows == checker.rows && shape.columns == checker.widest);
  return 0;
}
