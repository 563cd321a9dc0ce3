#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace kestrova::reports {

// The separator as the splitter compares it: one character (one UTF-8 code point), or
// nothing when the text given is empty or longer than one character, in which case no
// field is ever split.
std::string_view single_character(std::string_view separator);

// The position of the first of `text[from..]` that ends an unquoted run: a byte with
// stop[byte] set (the separator's first byte, a quote, CR or LF), or the end of the text.
// Eight bytes are tested at a time where the text allows: a byte equal to one of the four
// gives a zero byte after XOR, and the lowest zero byte found by the borrow trick is exact.
inline std::size_t find_stop(std::string_view text, std::size_t from,
                             const std::array<bool, 256>& stop, char separator_lead) {
  const std::size_t n = text.size();
  if constexpr (std::endian::native == std::endian::little) {
    constexpr std::uint64_t kOnes = 0x0101010101010101ull;
    constexpr std::uint64_t kHigh = 0x8080808080808080ull;
    const auto zero_bytes = [](std::uint64_t x) { return (x - kOnes) & ~x & kHigh; };
    const std::uint64_t sep = kOnes * static_cast<unsigned char>(separator_lead);
    while (from + 8 <= n) {
      std::uint64_t w = 0;
      std::memcpy(&w, text.data() + from, 8);
      const std::uint64_t hits = zero_bytes(w ^ sep) | zero_bytes(w ^ (kOnes * '"')) |
                                 zero_bytes(w ^ (kOnes * '\r')) | zero_bytes(w ^ (kOnes * '\n'));
      if (hits != 0) return from + static_cast<std::size_t>(std::countr_zero(hits) / 8);
      from += 8;
    }
  }
  while (from < n && !stop[static_cast<unsigned char>(text[from])])
    ++from;
  return from;
}

namespace detail {

// The field being split: a view into the text while its pieces lie together there (no quotes
// inside, or one quoted part), else a copy. With kKeep false only `has_chars` is kept.
template <bool kKeep> struct FieldBuffer {
  std::string copy;
  bool copied = false;
  const char* view = nullptr;
  std::size_t view_size = 0;
  bool has_chars = false;

  void append(const char* data, std::size_t size) {
    if (size == 0) return;
    has_chars = true;
    if constexpr (kKeep) {
      if (copied) {
        copy.append(data, size);
      } else if (view_size == 0) {
        view = data;
        view_size = size;
      } else if (view + view_size == data) {
        view_size += size;
      } else {
        copy.assign(view, view_size);
        copy.append(data, size);
        copied = true;
      }
    }
  }
  std::string_view text() const {
    return copied ? std::string_view(copy) : std::string_view(view, view_size);
  }
  void clear() {
    copy.clear();
    copied = false;
    view_size = 0;
    has_chars = false;
  }
};

} // namespace detail

// Splits CSV text into rows of fields, calling sink.field(std::string_view) for each field
// and sink.end_row() after each row. Quotes start and end quoted parts anywhere in a field
// (they are not kept); "" inside quotes is one quote; CR, LF and CR LF end a row outside
// quotes; a last line without a line break still gives its row. The view passed to
// field() is valid only during the call. A sink with `bool stopped()` can end the split
// early: it is asked after each row.
//
// A field whose characters lie together in `text` (any field without a doubled quote or a
// quote inside it) is passed as a view into `text`; only the others are copied.
//
// With kKeepFields false only the shape is wanted: field() gets empty views.
template <class Sink, bool kKeepFields = true>
void split_csv(std::string_view text, std::string_view separator, Sink& sink) {
  const std::string_view sep = single_character(separator);
  std::array<bool, 256> stop{};
  stop['"'] = stop['\r'] = stop['\n'] = true;
  if (!sep.empty()) stop[static_cast<unsigned char>(sep[0])] = true;

  detail::FieldBuffer<kKeepFields> field;
  const auto end_field = [&] {
    sink.field(field.text());
    field.clear();
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
          field.append(text.data() + i, 1);
          i += 2;
        } else {
          quoted = false;
          ++i;
        }
        continue;
      }
      const std::size_t end = text.find('"', i);
      const std::size_t stop_at = end == std::string_view::npos ? n : end;
      field.append(text.data() + i, stop_at - i);
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
      if constexpr (requires { sink.stopped(); }) {
        if (sink.stopped()) return;
      }
    } else {
      const std::size_t j = find_stop(text, i + 1, stop, sep.empty() ? '"' : sep[0]);
      field.append(text.data() + i, j - i);
      i = j;
    }
  }
  if (field.has_chars || row_has_fields) {
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
// Only the first `max_rows` rows are looked at.
CsvShape measure_csv(std::string_view text, std::string_view separator,
                     std::size_t max_rows = static_cast<std::size_t>(-1));

} // namespace kestrova::reports
