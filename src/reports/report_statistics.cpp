#include "reports/report_statistics.hpp"

#include <algorithm>
#include <cmath>

#include "acquisition/activity_files.hpp"
#include "common/rounding.hpp"
#include "store/record_file.hpp"

namespace kestrova::reports {

namespace fs = std::filesystem;

namespace {

// Bin of a row time: E / R for the smallest multiple E of R (from R on) not below the time.
std::int64_t bin_of_time(double time, int bin) {
  const double e = std::max(1.0, std::ceil(time / bin));
  return static_cast<std::int64_t>(e);
}

// The highest number n of the folder's "histoNNNN.bin" files, -1 when there is none.
int last_histogram_number(const fs::path& folder) {
  int last = -1;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 9 || name.compare(0, 5, "histo") != 0 ||
        name.compare(name.size() - 4, 4, ".bin") != 0)
      continue;
    const std::string digits = name.substr(5, name.size() - 9);
    if (digits.empty() || digits.size() > 6 ||
        !std::all_of(digits.begin(), digits.end(), [](char ch) { return ch >= '0' && ch <= '9'; }))
      continue;
    last = std::max(last, std::stoi(digits));
  }
  return last;
}

// Reads the histograms into the channel histograms of their bins; false without any file.
bool read_histograms(const fs::path& folder, ReportNumbers& n) {
  const int last = last_histogram_number(folder);
  if (last < 0) return false;
  n.channel_histogram.assign(static_cast<std::size_t>(n.bins + 1) * kHistogramClasses * kChannels,
                             0);
  std::int64_t end = n.bin;
  for (int number = 0; number <= last; ++number) {
    const fs::path file = folder / acquisition::histogram_file_name(number);
    auto bytes = store::read_file_bytes(file);
    if (!bytes) continue;
    const std::size_t records = bytes->size() / acquisition::kHistogramRecordBytes;
    double periods = 0;
    for (std::size_t r = 0; r < records; ++r) {
      const auto* p = reinterpret_cast<const std::byte*>(bytes->data()) +
                      r * acquisition::kHistogramRecordBytes;
      const acquisition::HistogramRecord record = acquisition::decode_histogram_record(
          std::span<const std::byte, acquisition::kHistogramRecordBytes>(
              p, acquisition::kHistogramRecordBytes));
      periods += record.sample_period;
      while (end < record.minutes)
        end += n.bin;
      const std::int64_t b = end / n.bin;
      if (b < 1 || b > n.bins) continue;
      n.has_data[b] = 1;
      for (int k = 0; k < kHistogramClasses; ++k)
        for (int c = 0; c < kChannels; ++c)
          n.channel_histogram[(static_cast<std::size_t>(b) * kHistogramClasses + k) * kChannels +
                              c] = record.totals[k * store::kChannelSlots + c];
    }
    if (records > 0) n.sample_period = periods / static_cast<double>(records);
  }
  return true;
}

} // namespace

std::optional<ReportNumbers> compute_report_numbers(const ActivityRows& rows,
                                                    std::int32_t last_time, int bin, bool basal,
                                                    const AcquisitionLayout& layout,
                                                    ReportLayout output, const fs::path& folder,
                                                    common::Dialogs& dialogs) {
  ReportNumbers n;
  n.bin = std::max(bin, 1);
  n.last_time = last_time;
  n.basal = basal;
  n.bins = std::max(1, common::round_to_int(static_cast<double>(last_time) / n.bin));
  n.wells = layout.greatest_well + 1;
  n.groups = layout.largest_group() + 1;
  const std::size_t slots = static_cast<std::size_t>(n.bins) + 1;
  n.has_data.assign(slots, 0);
  n.rows_in_bin.assign(slots, 0);
  n.temperature.assign(slots, 0);
  n.channel_value.assign(slots * kChannels, 0);
  n.well_value.assign(slots * n.wells, 0);
  n.group_mean.assign(slots * n.groups, 0);
  n.group_deviation.assign(slots * n.groups, 0);
  n.wells_in_group.assign(static_cast<std::size_t>(n.groups), 0);

  std::vector<std::int64_t> temperature_sum(slots, 0), temperature_count(slots, 0);
  std::vector<std::int64_t> row_bin(rows.size(), 0);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const std::int64_t b = bin_of_time(rows.time[r], n.bin);
    row_bin[r] = b;
    if (b > n.bins) continue;
    if (rows.temperature[r] >= 10 && rows.temperature[r] <= 500) {
      temperature_sum[b] += rows.temperature[r];
      ++temperature_count[b];
    }
  }
  for (std::size_t b = 1; b < slots; ++b)
    if (temperature_count[b] > 0)
      n.temperature[b] = common::round_to_int(static_cast<double>(temperature_sum[b]) /
                                              static_cast<double>(temperature_count[b]));

  const bool one_position = layout.greatest_position == 0;
  // Adds a row's values (counts, or one histogram class) to a bin's wells.
  auto add_to_wells = [&](auto value_of_channel, std::int64_t* wells) {
    for (int w = 0; w < n.wells; ++w) {
      if (one_position) {
        const int c = layout.channel_at(w, 0);
        if (c >= 0) wells[w] += value_of_channel(c);
        continue;
      }
      double sum = 0;
      int count = 0;
      for (int p = 0; p <= layout.greatest_position; ++p) {
        const int c = layout.channel_at(w, p);
        if (c < 0) continue;
        sum += static_cast<double>(value_of_channel(c));
        ++count;
      }
      if (count > 0) wells[w] = common::round_to_int(static_cast<double>(wells[w]) + sum / count);
    }
  };

  const bool histogram = output == ReportLayout::Histogram;
  for (std::size_t r = 0; r < rows.size() && !histogram; ++r) {
    const std::int64_t b = row_bin[r];
    if (b > n.bins) continue;
    ++n.rows_in_bin[b];
    n.has_data[b] = 1;
    const std::int32_t* counts = rows.row(r);
    for (int c = 0; c < kChannels; ++c)
      n.channel_value[b * kChannels + c] += counts[c];
    add_to_wells([&](int c) { return counts[c]; }, &n.well_value[b * n.wells]);
  }

  // A group's wells: the wells whose position-0 channel belongs to it, in well order.
  std::vector<std::vector<int>> group_wells(static_cast<std::size_t>(n.groups));
  for (int w = 0; w < n.wells; ++w) {
    const int c = layout.channel_at(w, 0);
    if (c >= 0 && layout.channel_group[c] >= 0) group_wells[layout.channel_group[c]].push_back(w);
  }
  auto group_statistics = [&](const std::int64_t* wells, std::int64_t& mean,
                              std::int64_t& deviation, const std::vector<int>& members) {
    const auto count = static_cast<std::int64_t>(members.size());
    std::int64_t sum = 0;
    for (int w : members)
      sum += wells[w];
    mean = common::round_to_int(static_cast<double>(sum) / static_cast<double>(count));
    if (count == 1) {
      deviation = 0;
      return;
    }
    std::int64_t squares = 0;
    for (int w : members)
      squares += (wells[w] - mean) * (wells[w] - mean);
    deviation = common::round_to_int(
        std::sqrt(static_cast<double>(squares) / static_cast<double>(count - 1)));
  };
  for (int g = 0; g < n.groups; ++g) {
    const auto& members = group_wells[g];
    if (members.empty()) continue;
    n.wells_in_group[g] = static_cast<std::int64_t>(members.size());
    for (int b = 1; b <= n.bins; ++b)
      group_statistics(&n.well_value[b * n.wells], n.group_mean[b * n.groups + g],
                       n.group_deviation[b * n.groups + g], members);
  }

  if (!histogram) return n;
  if (!read_histograms(folder, n)) {
    dialogs.message("Error getting Histogram.bin data");
    return std::nullopt;
  }
  n.well_histogram.assign(slots * kHistogramClasses * n.wells, 0);
  n.group_histogram.assign(slots * kHistogramClasses * n.groups, 0);
  for (std::size_t r = 0; r < rows.size(); ++r) {
    const std::int64_t b = row_bin[r];
    if (b > n.bins) continue;
    for (int k = 0; k < kHistogramClasses; ++k) {
      const std::int64_t* channels =
          &n.channel_histogram[(static_cast<std::size_t>(b) * kHistogramClasses + k) * kChannels];
      add_to_wells(
          [&](int c) { return channels[c]; },
          &n.well_histogram[(static_cast<std::size_t>(b) * kHistogramClasses + k) * n.wells]);
    }
  }
  for (int g = 0; g < n.groups; ++g) {
    const auto& members = group_wells[g];
    if (members.empty()) continue;
    for (std::size_t bk = 0; bk < slots * kHistogramClasses; ++bk) {
      std::int64_t sum = 0;
      for (int w : members)
        sum += n.well_histogram[bk * n.wells + w];
      n.group_histogram[bk * n.groups + g] =
          common::round_to_int(static_cast<double>(sum) / static_cast<double>(members.size()));
    }
  }
  return n;
}

} // namespace kestrova::reports
