#include "reports/report_basal.hpp"

#include <algorithm>
#include <cstdlib>

#include "acquisition/activity_files.hpp"
#include "common/file_commit.hpp"
#include "common/rounding.hpp"
#include "reports/rebin.hpp"

namespace kestrova::reports {

namespace {

constexpr std::string_view kBasalTitle = "<BASAL CALCULATION>";
constexpr std::string_view kAskTitle = "Basal Calculation";

bool counted_channel(const AcquisitionLayout& layout, int c) {
  const int g = layout.channel_group[c];
  return layout.well_of_channel[c] >= 0 && g != -1 && g != 999;
}

// The whole-number value of an answer (leading number, 0 when there is none).
long answer_value(const std::string& text) {
  return static_cast<long>(common::round_half_even(std::strtod(text.c_str(), nullptr)));
}

// Asks for the basal minutes until an answer lies in [bin, last]; nullopt when cancelled.
std::optional<long> ask_basal_minutes(int bin, std::int32_t last, common::Dialogs& dialogs) {
  const std::string prompt = "Basal acquisition is " + std::to_string(last) +
                             "min long, and BinSize=" + std::to_string(bin) +
                             "min. \r\n\r\nHow many minutes do you want to use to calculate "
                             "Basal Meassurement?";
  const std::string suggestion = std::to_string(last < 2 * bin ? bin : 2 * bin);
  for (;;) {
    auto answer = dialogs.input(prompt, kAskTitle, suggestion);
    if (!answer) return std::nullopt;
    const long minutes = answer_value(*answer);
    if (minutes <= last && minutes >= bin) return minutes;
    if (!dialogs.input("Enter a value between " + std::to_string(bin) + " and " +
                           std::to_string(last),
                       kAskTitle, std::to_string(bin)))
      return std::nullopt;
  }
}

} // namespace

bool basal_choice_applies(std::string_view basal_choice) {
  return !basal_choice.empty() && basal_choice != "-" && basal_choice.size() > 12;
}

int apply_basal_percentages(ActivityRows& rows, std::array<int, kChannels>& basal,
                            AcquisitionLayout& layout, ZeroBasalRule rule) {
  int discarded = 0;
  for (int c = 0; c < kChannels; ++c) {
    if (!counted_channel(layout, c)) continue;
    if (basal[c] < 1) {
      if (rule == ZeroBasalRule::MaxActivity) {
        std::int32_t top = 0;
        for (std::size_t r = 0; r < rows.size(); ++r)
          top = std::max(top, rows.row(r)[c]);
        basal[c] = top;
      } else if (rule == ZeroBasalRule::PlateAverage) {
        double sum = 0;
        int count = 0;
        for (int k = 0; k < kChannels; ++k)
          if (counted_channel(layout, k)) {
            sum += basal[k];
            ++count;
          }
        basal[c] = count > 0 ? common::round_to_int(sum / count) : 0;
      } else if (rule == ZeroBasalRule::Discard) {
        basal[c] = -1;
        layout.channel_group[c] = -1;
      }
    }
    if (basal[c] < 1) {
      layout.channel_group[c] = -1;
      for (std::size_t r = 0; r < rows.size(); ++r)
        rows.row(r)[c] = kDiscardedCount;
      ++discarded;
      continue;
    }
    for (std::size_t r = 0; r < rows.size(); ++r) {
      const double percent = std::min(rows.row(r)[c] * 100.0 / basal[c], double{kBasalCap});
      rows.row(r)[c] = common::round_to_int(percent);
    }
  }
  return discarded;
}

bool normalise_to_basal(const std::filesystem::path& folder, std::string_view basal_choice, int bin,
                        ActivityRows& rows, AcquisitionLayout& layout, common::Dialogs& dialogs) {
  const std::string path = folder.string();
  dialogs.message("Using Groups Selected in Experiment: " +
                      path.substr(path.size() > 20 ? path.size() - 20 : 0),
                  common::Buttons::Ok, common::Icon::Information, kBasalTitle);
  const std::string basal_folder = path.substr(0, path.size() > 13 ? path.size() - 13 : 0) +
                                   std::string(basal_choice.substr(0, 13));
  common::settle_pending_commit(basal_folder);
  auto basal_rows =
      load_counts_rows(std::filesystem::path(basal_folder) / acquisition::kCountsFileName, dialogs);
  if (!basal_rows) return false;
  RebinResult rebinned = rebin_rows(*basal_rows, bin);
  if (!rebinned.ok()) {
    dialogs.message("Resampling ERROR");
    return false;
  }
  const std::int32_t last = rebinned.rows.last_time();
  long minutes = bin;
  if (1.5 * bin < last) {
    auto asked = ask_basal_minutes(bin, last, dialogs);
    if (!asked) return false;
    minutes = *asked;
  }

  std::array<int, kChannels> basal{};
  for (int c = 0; c < kChannels; ++c) {
    double sum = 0;
    for (std::size_t r = 0; r < rebinned.rows.size(); ++r)
      if (rebinned.rows.time[r] <= minutes) sum += rebinned.rows.row(r)[c];
    if (last < bin) sum *= static_cast<double>(bin) / last;
    if (bin < minutes) sum *= static_cast<double>(bin) / static_cast<double>(minutes);
    basal[c] = common::round_to_int(sum);
  }

  // Every channel of a well takes the well's mean basal and mean counts.
  int zero_wells = 0;
  for (int w = 0; w <= layout.greatest_well; ++w) {
    std::vector<int> channels;
    for (int p = 0; p <= layout.greatest_position; ++p)
      if (const int c = layout.channel_at(w, p); c >= 0) channels.push_back(c);
    if (channels.empty()) continue;
    double well_basal = 0;
    for (int c : channels)
      well_basal += basal[c];
    well_basal /= static_cast<double>(channels.size());
    for (std::size_t r = 0; r < rows.size(); ++r) {
      double mean = 0;
      for (int c : channels)
        mean += rows.row(r)[c];
      const int rounded = common::round_to_int(mean / static_cast<double>(channels.size()));
      for (int c : channels)
        rows.row(r)[c] = rounded;
    }
    for (int c : channels)
      basal[c] = common::round_to_int(well_basal);
    const int first = layout.channel_at(w, 0);
    if (well_basal == 0 && first >= 0 && layout.channel_group[first] != -1 &&
        layout.channel_group[first] != 999)
      ++zero_wells;
  }

  ZeroBasalRule rule = ZeroBasalRule::None;
  if (zero_wells > 0) {
    if (dialogs.message("You have " + std::to_string(zero_wells) +
                            " BASAL WELLS with 0 activity. Proceed anyway??",
                        common::Buttons::YesNo, common::Icon::Question) != common::Answer::Yes)
      return false;
    const common::Answer answer = dialogs.message(
        "For ZERO Activity Basal Wells:\r\n[YES] to replace <BASAL Well> with <MAX Well "
        "Activity>\r\n[NO] to replace <BASAL Well> with <BASAL Microplate Average>\r\n[CANCEL] "
        "to DISCARD Well in Calculation\r\n\r\nTO BE APPLIED TO ALL 0 ACTIVITY BASAL WELLs",
        common::Buttons::YesNoCancel, common::Icon::Question);
    rule = answer == common::Answer::Yes  ? ZeroBasalRule::MaxActivity
           : answer == common::Answer::No ? ZeroBasalRule::PlateAverage
                                          : ZeroBasalRule::Discard;
  }
  const int discarded = apply_basal_percentages(rows, basal, layout, rule);
  if (discarded > 0)
    dialogs.message("ERROR in " + std::to_string(discarded) +
                    " BASAL channels.\r\nChannels were discarded and transferred to Free Group");
  return true;
}

} // namespace kestrova::reports
