#include "reports/report_writer.hpp"

#include <cmath>
#include <ctime>

#include "common/number_format.hpp"
#include "store/record_file.hpp"

namespace kestrova::reports {

namespace fs = std::filesystem;

namespace {

constexpr const char* kEol = "\r\n";

// Builds the report text line by line.
class Text {
public:
  Text(const ReportNumbers& n, const AcquisitionLayout& layout, const ReportFormat& f)
      : n_(n), layout_(layout), f_(f), s_(f.separator) {}

  std::string out;

  void line(std::string_view text = {}) {
    out += text;
    out += kEol;
  }
  void title(std::string_view text) { line("\"" + std::string(text) + "\""); }
  std::string one_decimal(double value) const {
    return common::format_display(value, "0.0", f_.decimal_separator);
  }
  std::string group_label(int g) const {
    if (g < 0) return "\"999_Free\"";
    std::string number = std::to_string(g);
    while (number.size() < 3)
      number.insert(0, "0");
    return "\"" + number + "_" + layout_.group_names[static_cast<std::size_t>(g)] + "\"";
  }
  std::string well_label(int w) const { return store::WellLabel(layout_.geometry, w); }
  int first_channel(int w) const { return layout_.channel_at(w, 0); }
  bool data(int b) const { return n_.has_data[b] != 0; }
  std::string time(int b) const { return std::to_string(n_.bin_time(b)); }

  // "Group/Time[m]" header and one line per group of `value(b, g)` (Rows pattern).
  template <typename Basal, typename Value>
  void group_rows(std::string_view head, Basal basal_value, Value value) {
    std::string header(head);
    if (n_.basal) header += s_ + "0";
    for (int b = 1; b <= n_.bins; ++b)
      if (data(b)) header += s_ + time(b);
    line(header);
    for (int g = 0; g < n_.groups; ++g) {
      std::string l = group_label(g);
      if (n_.basal) l += s_ + std::string(basal_value(g));
      for (int b = 1; b <= n_.bins; ++b)
        if (data(b)) l += s_ + value(b, g);
      line(l);
    }
  }
  // "Time S Group S Value" and one block per group (List pattern).
  template <typename Value> void group_list(std::string_view basal_value_text, Value value) {
    line("Time" + s_ + "Group" + s_ + "Value");
    line();
    for (int g = 0; g < n_.groups; ++g) {
      if (n_.basal) line("0" + s_ + group_label(g) + s_ + std::string(basal_value_text));
      for (int b = 1; b <= n_.bins; ++b)
        if (data(b)) line(time(b) + s_ + group_label(g) + s_ + value(b, g));
      line();
    }
  }

  void heading(const ReportHeading& h) {
    line("\"DATE:\"" + s_ + "\"" + h.date + "\"");
    line("\"FILE:\"" + s_ + "\"" + h.folder + "\"");
    line("\"SUBPROJECT:\"" + s_ + "\"" + h.title + "\"");
    line("\"SETTING:\"" + s_ + "\"" + h.setting + "\"");
    if (n_.basal) {
      line("\"TIME0(BASAL MEASSURE):\"" + s_ + "\"" + h.basal_choice + "\"");
      line();
      line("\"***DATA AS % OF BASAL ACTIVITY***\"");
    } else {
      line();
    }
  }

  void group_section() {
    switch (f_.layout) {
    case ReportLayout::Rows:
      title("<<<<<< Group Activity: Average Activity Counts per Data Interval>>>>>>");
      group_rows(
          "Group/Time[m]", [](int) { return std::string("100"); },
          [&](int b, int g) { return std::to_string(n_.mean(b, g)); });
      line();
      break;
    case ReportLayout::List:
      title("<<<<<< Group Activity: Average Activity Counts per Data Interval>>>>>>");
      group_list("100", [&](int b, int g) { return std::to_string(n_.mean(b, g)); });
      break;
    case ReportLayout::WArray: {
      title("<<<<<<WELL ARRAY. Group Configuration>>>>>>");
      column_header(layout_.geometry.columns);
      for (int r = 0; r < layout_.geometry.rows; ++r) {
        std::string l = "\"" + std::string(1, static_cast<char>('A' + r)) + "\"";
        for (int c = 0; c < layout_.geometry.columns; ++c) {
          const int ch = first_channel(c * layout_.geometry.rows + r);
          if (ch < 0 || layout_.well_of_channel[ch] < 0)
            l += s_ + "-";
          else
            l += s_ + group_label(layout_.channel_group[ch]);
        }
        line(l);
      }
      line();
      break;
    }
    case ReportLayout::ChArray:
      title("<<<<<<CHANNEL ARRAY. Group Configuration>>>>>>");
      column_header(store::kBeamColumns);
      for (int r = 0; r < store::kBeamRows; ++r) {
        std::string l = "\"" + std::string(1, static_cast<char>('A' + r)) + "\"";
        for (int c = 0; c < store::kBeamColumns; ++c) {
          const int ch = store::channel_of_beam(c, r);
          if (layout_.well_of_channel[ch] < 0)
            l += s_ + "-";
          else if (layout_.channel_group[ch] < 0)
            l += s_ + "\" 999_Free\"";
          else
            l += s_ + group_label(layout_.channel_group[ch]);
        }
        line(l);
      }
      line();
      break;
    case ReportLayout::Histogram:
      title("<<<<<< Group Histogram: Average Number of Frequency Counts per Data Interval>>>>>>");
      line("Time[m]" + s_ + "Group/Frequency:" + class_header());
      for (int b = 1; b <= n_.bins; ++b) {
        if (!data(b)) continue;
        for (int g = 0; g < n_.groups; ++g) {
          std::string l = time(b) + s_ + group_label(g);
          for (int k = 0; k < kReportedClasses; ++k)
            l += s_ + std::to_string(n_.group_hist(b, k, g));
          line(l);
        }
      }
      break;
    }
  }

  void column_header(int columns) {
    std::string l = "Row/Column" + s_;
    for (int c = 1; c <= columns; ++c)
      l += std::to_string(c) + s_;
    line(l);
  }
  std::string class_header() const {
    std::string l;
    for (int k = 0; k < kReportedClasses; ++k)
      l += s_ + one_decimal(k * n_.sample_period);
    return l;
  }

  void statistics_sections() {
    const bool rows = f_.layout == ReportLayout::Rows || f_.layout == ReportLayout::Histogram;
    const bool list = f_.layout == ReportLayout::List;
    auto section = [&](std::string_view name, std::string_view basal_value, auto value) {
      title(name);
      if (rows) {
        group_rows(
            "Group/Time[m]",
            [&](int g) {
              return std::string(basal_value == "n" ? std::to_string(n_.wells_in_group[g])
                                                    : std::string(basal_value));
            },
            value);
        line();
      } else {
        // The basal value of the wells section differs per group, so the List pattern is
        // written here rather than with group_list.
        line("Time" + s_ + "Group" + s_ + "Value");
        line();
        for (int g = 0; g < n_.groups; ++g) {
          if (n_.basal)
            line("0" + s_ + group_label(g) + s_ +
                 (basal_value == "n" ? std::to_string(n_.wells_in_group[g])
                                     : std::string(basal_value)));
          for (int b = 1; b <= n_.bins; ++b)
            if (data(b)) line(time(b) + s_ + group_label(g) + s_ + value(b, g));
          line();
        }
      }
    };
    const bool rows_or_list = f_.layout == ReportLayout::Rows || list;
    if (f_.std_error && rows_or_list)
      section("<<<<<< Group Activity: Standard Error >>>>>>", "0.0", [&](int b, int g) {
        const std::int64_t dev = n_.deviation(b, g);
        const std::int64_t wells = n_.wells_in_group[g];
        if (dev < 1 || wells < 1) return one_decimal(0);
        return one_decimal(static_cast<double>(dev) / std::sqrt(static_cast<double>(wells)));
      });
    if (f_.std_dev && (rows_or_list || f_.layout == ReportLayout::Histogram))
      section("<<<<<< Group Activity: Standard Deviation >>>>>>", "0.0",
              [&](int b, int g) { return one_decimal(static_cast<double>(n_.deviation(b, g))); });
    if (f_.wells_per_group && rows_or_list)
      section("<<<<<< Group Activity: Number of wells/group >>>>>>", "n",
              [&](int, int g) { return std::to_string(n_.wells_in_group[g]); });
  }

  // A two-line Rows block: times, then values, each entry followed by S.
  template <typename Value>
  void time_value_rows(std::string_view value_head, std::string_view basal_value, Value value) {
    std::string times = "Time[m]" + s_;
    std::string values = std::string(value_head) + s_;
    if (n_.basal) {
      times += "0" + s_;
      values += std::string(basal_value) + s_;
    }
    for (int b = 1; b <= n_.bins; ++b) {
      if (!data(b)) continue;
      times += time(b) + s_;
      values += value(b) + s_;
    }
    line(times);
    line(values);
  }
  template <typename Value>
  void time_value_list(std::string_view value_head, std::string_view basal_value, Value value) {
    line("Time" + s_ + std::string(value_head));
    line();
    if (n_.basal) line("0" + s_ + std::string(basal_value));
    for (int b = 1; b <= n_.bins; ++b)
      if (data(b)) line(time(b) + s_ + value(b));
  }

  void samples_section() {
    if (f_.layout != ReportLayout::Rows && f_.layout != ReportLayout::List) return;
    title("<<<<<< Number of Samples per Acquisition Interval [1unit=500values] >>>>>>");
    const std::string r = std::to_string(n_.bin);
    auto value = [&](int b) { return std::to_string(n_.bin * n_.rows_in_bin[b]); };
    if (f_.layout == ReportLayout::Rows)
      time_value_rows("#Samples", r, value);
    else
      time_value_list("#Samples", r, value);
    line();
  }

  void temperature_section() {
    title("<<<<<< Average Temperature [°C] >>>>>>");
    auto value = [&](int b) { return one_decimal(static_cast<double>(n_.temperature[b]) / 10); };
    if (f_.layout == ReportLayout::List)
      time_value_list("Avrg_Temp[°C]", "?", value);
    else
      time_value_rows("Temp[°C]", "?", value);
    line();
  }

  std::string channel_group_label(int ch) const { return group_label(layout_.channel_group[ch]); }

  void well_section() {
    switch (f_.layout) {
    case ReportLayout::Rows: {
      title("<<<<<< Well Activity >>>>>>");
      std::string header = "Well" + s_ + "Group/Time[m]";
      if (n_.basal) header += s_ + "0";
      for (int b = 1; b <= n_.bins; ++b)
        if (data(b)) header += s_ + time(b);
      line(header);
      for (int w = 0; w < n_.wells; ++w) {
        const int ch = first_channel(w);
        if (ch < 0) continue;
        std::string l = well_label(w) + s_ + channel_group_label(ch);
        if (n_.basal) l += s_ + "100";
        for (int b = 1; b <= n_.bins; ++b)
          if (data(b)) l += s_ + std::to_string(n_.well(b, w));
        line(l);
      }
      line();
      break;
    }
    case ReportLayout::List:
      title("<<<<<< Well Activity >>>>>>");
      line("Time" + s_ + "Well" + s_ + "Group" + s_ + "Value");
      line();
      for (int w = 0; w < n_.wells; ++w) {
        const int ch = first_channel(w);
        if (ch >= 0) {
          const std::string label = s_ + well_label(w) + s_ + channel_group_label(ch) + s_;
          if (n_.basal) line("0" + label + "100");
          for (int b = 1; b <= n_.bins; ++b)
            if (data(b)) line(time(b) + label + std::to_string(n_.well(b, w)));
        }
        line();
      }
      break;
    case ReportLayout::WArray: {
      title("<<<<<<WELL ARRAY. Well Activity>>>>>>");
      const int rows = layout_.geometry.rows;
      const int columns = layout_.geometry.columns;
      if (n_.basal) {
        line("Time_Block[m]" + s_ + "0");
        column_header(columns);
        for (int r = 0; r < rows; ++r) {
          std::string l = "\"" + std::string(1, static_cast<char>('A' + r)) + "\"";
          for (int c = 0; c < columns; ++c) {
            const int ch = first_channel(c * rows + r);
            l += s_ + (ch < 0 || layout_.well_of_channel[ch] < 0 ? "-" : "100");
          }
          line(l);
        }
        line();
      }
      for (int b = 1; b <= n_.bins; ++b) {
        line("Time_Block[m]" + s_ + time(b));
        column_header(columns);
        for (int r = 0; r < rows; ++r) {
          std::string l(1, static_cast<char>('A' + r));
          for (int c = 0; c < columns; ++c) {
            const int w = c * rows + r;
            l += s_ + (data(b) && w < n_.wells ? std::to_string(n_.well(b, w)) : "-");
          }
          line(l);
        }
        line();
      }
      break;
    }
    case ReportLayout::Histogram:
      title("<<<<<< Well Histogram: Average Number of Frequency Counts per Data Interval>>>>>>");
      line("Time[m]" + s_ + "Well" + s_ + "Group/Frequency:" + class_header());
      for (int b = 1; b <= n_.bins; ++b) {
        if (!data(b)) continue;
        for (int w = 0; w < n_.wells; ++w) {
          const int ch = first_channel(w);
          if (ch < 0) continue;
          std::string l = time(b) + s_ + well_label(w) + s_ + channel_group_label(ch);
          for (int k = 0; k < kReportedClasses; ++k)
            l += s_ + std::to_string(n_.well_hist(b, k, w));
          line(l);
        }
      }
      break;
    case ReportLayout::ChArray:
      break;
    }
  }

  std::string position_label(int ch) const {
    return well_label(layout_.well_of_channel[ch]) + "." +
           std::to_string(layout_.position_of_channel[ch]);
  }

  void channel_section() {
    if (n_.basal) return;
    switch (f_.layout) {
    case ReportLayout::Rows: {
      title("<<<<<< Channel Activity >>>>>>");
      std::string header = "Channel" + s_ + "Well" + s_ + "Group/Time[m]";
      for (int b = 1; b <= n_.bins; ++b)
        if (data(b)) header += s_ + time(b);
      line(header);
      for (int ch = 0; ch < kChannels; ++ch) {
        if (layout_.well_of_channel[ch] < 0) continue;
        std::string l =
            "CH" + std::to_string(ch) + s_ + position_label(ch) + s_ + channel_group_label(ch);
        for (int b = 1; b <= n_.bins; ++b)
          if (data(b)) l += s_ + std::to_string(n_.channel(b, ch));
        line(l);
      }
      break;
    }
    case ReportLayout::List:
      title("<<<<<< Channel Activity >>>>>>");
      line("Time" + s_ + "Channel" + s_ + "Well" + s_ + "Group" + s_ + "Value");
      line();
      for (int ch = 0; ch < kChannels; ++ch) {
        if (layout_.well_of_channel[ch] >= 0) {
          const std::string label = s_ + "CH" + std::to_string(ch) + s_ + position_label(ch) + s_ +
                                    channel_group_label(ch) + s_;
          for (int b = 1; b <= n_.bins; ++b)
            if (data(b)) line(time(b) + label + std::to_string(n_.channel(b, ch)));
        }
        line();
      }
      break;
    case ReportLayout::ChArray:
      line("ARRAY OUTPUT FORMAT");
      for (int b = 1; b <= n_.bins; ++b) {
        if (!data(b)) continue;
        line("Time_Block[m]" + s_ + time(b));
        column_header(store::kBeamColumns);
        for (int r = 0; r < store::kBeamRows; ++r) {
          std::string l(1, static_cast<char>('A' + r));
          for (int c = 0; c < store::kBeamColumns; ++c) {
            const int ch = store::channel_of_beam(c, r);
            l += s_ + (layout_.well_of_channel[ch] < 0 ? "-" : std::to_string(n_.channel(b, ch)));
          }
          line(l);
        }
        line();
      }
      break;
    case ReportLayout::WArray:
    case ReportLayout::Histogram:
      break;
    }
  }

private:
  const ReportNumbers& n_;
  const AcquisitionLayout& layout_;
  const ReportFormat& f_;
  std::string s_;
};

} // namespace

std::string report_date_text(const common::CivilTime& time) {
  std::tm tm{};
  tm.tm_year = time.year - 1900;
  tm.tm_mon = time.month - 1;
  tm.tm_mday = time.day;
  tm.tm_hour = time.hour;
  tm.tm_min = time.minute;
  tm.tm_sec = time.second;
  const bool midnight = time.hour == 0 && time.minute == 0 && time.second == 0;
  char buffer[128];
  const std::size_t size = std::strftime(buffer, sizeof buffer, midnight ? "%x" : "%x %X", &tm);
  return std::string(buffer, size);
}

std::string report_file_text(const ReportNumbers& numbers, const AcquisitionLayout& layout,
                             const ReportHeading& heading, const ReportFormat& format) {
  Text text(numbers, layout, format);
  text.heading(heading);
  text.group_section();
  text.statistics_sections();
  text.samples_section();
  text.temperature_section();
  text.well_section();
  text.channel_section();
  return std::move(text.out);
}

std::optional<fs::path> save_report_file(const fs::path& folder, std::string_view extension,
                                         std::string_view text) {
  for (int attempt = 0; attempt < 1000; ++attempt) {
    const std::string name = attempt == 0 ? "report" : "report_" + std::to_string(attempt);
    const fs::path file = folder / (name + std::string(extension));
    std::error_code ec;
    if (fs::is_directory(file, ec)) continue;
    if (store::save_file_atomically(file, text)) return file;
  }
  return std::nullopt;
}

std::string title_file_name(std::string_view title) {
  std::string name;
  for (char ch : title) {
    const auto u = static_cast<unsigned char>(ch);
    name += ch == ' ' || ch == '/' || ch == '\\' || u < 0x20 || u == 0x7F ? '_' : ch;
  }
  if (name.find_first_not_of('.') == std::string::npos) return {};
  return name;
}

} // namespace kestrova::reports
