#include "browser/plot_axis.hpp"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>

#include "common/number_format.hpp"
#include "common/rounding.hpp"

namespace kestrova::browser {

namespace {

// The recording's span in minutes as the bin steps see it, at least 30.
int span_of(int columns, int previous_bin) { return std::max(30, (columns - 1) * previous_bin); }

int half_span(int span) { return common::round_to_int(span / 2.0); }

} // namespace

int bin_after_minus(double text_value, int columns, int previous_bin) {
  int size = common::round_to_int(text_value);
  if (size <= kMinBin)
    size = kMinBin;
  else if (size > kMaxBin)
    size = kMaxBin;
  else if (size > 9)
    size -= 5;
  const int span = span_of(columns, previous_bin);
  if (size > span / 2.0) size = half_span(span);
  while (span % size != 0 && size > kMinBin)
    size = std::max(kMinBin, size - 5);
  return size;
}

int bin_after_plus(double text_value, int columns, int previous_bin) {
  int size = common::round_to_int(text_value);
  if (size <= 4)
    size = kMinBin;
  else if (size >= 121)
    size = kMaxBin;
  else
    size += 5;
  const int span = span_of(columns, previous_bin);
  if (size > span / 2.0) size = half_span(span);
  while (span % size != 0 && size < span / 2.0)
    size += 5;
  return std::min(size, half_span(span));
}

double text_value(std::string_view text) {
  const std::size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) return 0;
  double v = 0;
  const auto [end, ec] = std::from_chars(text.data() + start, text.data() + text.size(), v);
  (void)end;
  return ec == std::errc{} && std::isfinite(v) ? v : 0;
}

int initial_line_bin(int acquisition_lapse_minutes) {
  return acquisition_lapse_minutes < 60 ? 5 : 30;
}

std::string_view kinetic_time_unit(double span_minutes) {
  if (span_minutes > 3 * 1440.0) return "day";
  if (span_minutes > 1440.0) return "h";
  return "min";
}

std::string kinetic_time_label(int minutes, std::string_view unit, bool first) {
  if (first) return "0";
  if (unit == "h") return common::format_display(minutes / 60.0, "0.0");
  if (unit == "day") return common::format_display(minutes / 1440.0, "0.0");
  return std::to_string(minutes);
}

const std::array<common::Rgb, kGroupRows>& line_palette() {
  static const std::array<common::Rgb, kGroupRows> palette = [] {
    std::array<common::Rgb, kGroupRows> p{};
    for (int s = 0; s <= 370; s += 13) {
      const auto z =
          static_cast<std::uint8_t>(std::max(0, common::round_to_int(255 - 383.0 / 255.0 * s)));
      const common::Rgb block[13] = {
          {z, 0, 0},   {0, z, 0},   {0, 0, z},   {z, z, 0},   {0, z, z},   {z, 0, z},  {0, 0, 0},
          {z, 128, 0}, {128, z, 0}, {0, 128, z}, {z, 0, 128}, {0, z, 128}, {128, 0, z}};
      for (int i = 0; i < 13 && s + i < kGroupRows; ++i)
        p[static_cast<std::size_t>(s + i)] = block[i];
    }
    return p;
  }();
  return palette;
}

int group_of_item(std::string_view item) {
  const std::string_view head = item.substr(0, 3);
  if (head.empty() || !std::all_of(head.begin(), head.end(), [](char c) {
        return std::isdigit(static_cast<unsigned char>(c)) != 0;
      }))
    return -1;
  const int g = std::stoi(std::string(head));
  return std::min(g, kFreeRow);
}

KineticText kinetic_table_text(const KineticActivity& kinetic, std::span<const std::string> items,
                               std::string_view separator) {
  KineticText out;
  out.header = "Acq:";
  for (char c : kinetic.acquisition_list) {
    if (c == ' ')
      out.header += separator;
    else
      out.header += c;
  }
  out.header += "\r\n";
  const std::string_view unit = kinetic_time_unit(kinetic.span_minutes());
  out.body = "Group/Time[" + std::string(unit) + "]";
  const int n = kinetic.table.columns;
  for (int m = 1; m <= n; ++m) {
    out.body += separator;
    out.body += kinetic_time_label(kinetic.minutes_of(m), unit, m == 1);
  }
  for (const std::string& item : items) {
    const int g = group_of_item(item);
    out.body += "\r\n[#" + item.substr(0, 10) + "]";
    for (int m = 1; m <= n; ++m) {
      out.body += separator;
      out.body += g < 0 ? "0" : std::to_string(common::round_to_int(kinetic.table.cell(g, m)));
    }
  }
  return out;
}

} // namespace kestrova::browser
