#pragma once

// The pieces of the offline plots that draw nothing: the line plot's bin stepping, time unit,
// time labels and palette, and the kinetic table text.

#include <array>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "browser/group_table.hpp"
#include "common/canvas.hpp"

namespace kestrova::browser {

inline constexpr int kMinBin = 5;
inline constexpr int kMaxBin = 120;

// The bin size after "-" or "+": `text_value` is the bin box's value, `columns` and
// `previous_bin` those of the table drawn last. The step keeps the bin within 5..120 and at most
// half the recording's span (at least 30 minutes), and moves it on to a divisor of the span.
int bin_after_minus(double text_value, int columns, int previous_bin);
int bin_after_plus(double text_value, int columns, int previous_bin);

// The number a text box holds (leading spaces allowed); 0 when it holds none.
double text_value(std::string_view text);

// The line plot's first bin: 5 minutes for an acquisition lapse below an hour, else 30.
int initial_line_bin(int acquisition_lapse_minutes);

// The time unit of a kinetic plot spanning `span_minutes`: "min", "h" above one day, "day"
// above three days.
std::string_view kinetic_time_unit(double span_minutes);

// The label of a kinetic point `minutes` after the first acquisition: "0" for the first point,
// else whole minutes, or hours or days with one decimal.
std::string kinetic_time_label(int minutes, std::string_view unit, bool first);

// The 385 colours of the line plot's series, in blocks of 13 of falling intensity.
const std::array<common::Rgb, kGroupRows>& line_palette();

// The group row of a `lstgrup_plot` item: the value of its first three characters, above 383
// taken as 384; -1 when they are not a number.
int group_of_item(std::string_view item);

// The kinetic table text of the joint report: header "Acq:" + the acquisition list with its
// spaces replaced by the separator + CR LF; body "Group/Time[unit]" and the time labels, then a
// line per item with its label and its rounded values.
struct KineticText {
  std::string header;
  std::string body;
};
KineticText kinetic_table_text(const KineticActivity& kinetic, std::span<const std::string> items,
                               std::string_view separator);

} // namespace kestrova::browser
