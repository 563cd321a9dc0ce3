#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrova::reports {

// The separator as the splitter compares it: one character (one UTF-8 code point), or
// nothing when the text given is empty or longer than one character, in which case no
// field is ever split.
std::string_view single_character(std::string_view separator);

// Splits CSV text into rows of fields, calling sink.field(std::string_view) for each field
// and sink.end_row() after each row. Quotes start and end quoted parts anywhere in a field
// (they are not kept); "" inside quotes is one quote; CR, LF and CR LF end a row outside
// quotes; a last line without a line break still gives its row. The view passed to
// field() is valid only during the call.
//
// With kKeepFields false only the shape is wanted: field() gets empty views and no field text
// is copied.
template <class Sink, bool kKeepFields = true>
void split_csv(std::string_view text, std::string_view separator, Sink& sink) {
  const std::string_view sep = single_character(separator);
  std::array<bool, 256> stop{};
  stop['"'] = stop['\r'] = stop['\n'] = true;
  if (!sep.empty()) stop[static_cast<unsigned char>(sep[0])] = true;

  std::string field;
  bool field_has_chars = false; // tracked apart from `field` for kKeepFields == false
  const auto append = [&](const char* data, std::size_t size) {
    if constexpr (kKeepFields) field.append(data, size);
    field_has_chars = field_has_chars || size > 0;
  };
  const auto end_field = [&] {
    sink.field(std::string_view(field));
    field.clear();
    field_has_chars = false;
  };
  bool quoted = false;
  bool row_has_fields = false;
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const char c = text[i];
    if (quoted) {
      if (c == '"') {
        if (i + 1 < n && text[i + 1] == '"') {
          append("\"", 1);
          i += 2;
        } else {
          quoted = false;
          ++i;
        }
        continue;
      }
      const std::size_t end = text.find('"', i);
      const std::size_t stop_at = end == std::string_view::npos ? n : end;
      append(text.data() + i, stop_at - i);
      i = stop_at;
      continue;
    }
    if (c == '"') {
      quoted = true;
      ++i;
    } else if (!sep.empty() && c == sep[0] &&
               (sep.size() == 1 || text.compare(i, sep.size(), sep) == 0)) {
      end_field();
      row_has_fields = true;
      i += sep.size();
    } else if (c == '\r' || c == '\n') {
      end_field();
      sink.end_row();
      row_has_fields = false;
      i += (c == '\r' && i + 1 < n && text[i + 1] == '\n') ? 2 : 1;
    } else {
      std::size_t j = i + 1;
      while (j < n && !stop[static_cast<unsigned char>(text[j])])
        ++j;
      append(text.data() + i, j - i);
      i = j;
    }
  }
  if (field_has_chars || row_has_fields) {
    end_field();
    sink.end_row();
  }
}

// The shape of the table a CSV text gives: the number of rows and the largest number of
// fields in a row.
struct CsvShape {
  std::size_t rows = 0;
  std::size_t columns = 0;
};
CsvShape measure_csv(std::string_view text, std::string_view separator);

} // namespace kestrova::reports
