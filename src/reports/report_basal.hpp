#pragma once

// Basal normalisation: every channel of an experiment as a percentage of its own activity in a
// basal acquisition of the same project.

#include <filesystem>
#include <string_view>

#include "common/dialogs.hpp"
#include "reports/report_data.hpp"

namespace kestrova::reports {

inline constexpr int kBasalCap = 10000;      // the largest percentage written
inline constexpr int kDiscardedCount = -999; // counts of a channel without a usable basal

// True when a basal choice names an acquisition: not empty, not "-", longer than 12 characters.
bool basal_choice_applies(std::string_view basal_choice);

// What to do with channels of a zero basal (the second question's answers).
enum class ZeroBasalRule { None, MaxActivity, PlateAverage, Discard };

// Turns the per-channel basals into percentages of the experiment rows, in channel order: a
// basal below 1 is first replaced by `rule`; a channel still below 1 is freed (group -1) and
// its counts become -999; otherwise every count c becomes c x 100 / basal, capped at 10000,
// rounded. `basal` holds per-channel basals and is updated. Returns the discarded channels.
int apply_basal_percentages(ActivityRows& rows, std::array<int, kChannels>& basal,
                            AcquisitionLayout& layout, ZeroBasalRule rule);

// The whole normalisation of an experiment folder's re-binned rows against the acquisition
// named by the first 13 characters of `basal_choice` in the same project, with the operator's
// questions. False when it stopped (basal not loadable, a question answered No or cancelled):
// no report is then made.
bool normalise_to_basal(const std::filesystem::path& folder, std::string_view basal_choice, int bin,
                        ActivityRows& rows, AcquisitionLayout& layout, common::Dialogs& dialogs);

} // namespace kestrova::reports
