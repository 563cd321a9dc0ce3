#include "reports/csv_split.hpp"

#include <algorithm>

namespace kestrova::reports {

std::string_view single_character(std::string_view separator) {
  if (separator.empty()) return {};
  const auto lead = static_cast<unsigned char>(separator[0]);
  std::size_t length = 1;
  if (lead >= 0xF0) {
    length = 4;
  } else if (lead >= 0xE0) {
    length = 3;
  } else if (lead >= 0xC0) {
    length = 2;
  }
  return separator.size() == length ? separator : std::string_view{};
}

CsvShape measure_csv(std::string_view text, std::string_view separator, std::size_t max_rows) {
  struct Counter {
    CsvShape shape;
    std::size_t max_rows;
    std::size_t fields = 0;
    bool stopped() const { return shape.rows >= max_rows; }
    void field(std::string_view) { ++fields; }
    void end_row() {
      ++shape.rows;
      shape.columns = std::max(shape.columns, fields);
      fields = 0;
    }
  } counter{{}, max_rows};
  split_csv<Counter, false>(text, separator, counter);
  return counter.shape;
}

} // namespace kestrova::reports
