#include "browser/track_model.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>
#include <system_error>
#include <thread>

namespace kestrova::browser {

namespace {

constexpr int kChannels = store::kChannelCount;
constexpr std::int16_t kMethodThresholdAverage = acquisition::kMethodThresholdAverage;

} // namespace

double track_threshold(std::string_view text) {
  std::string s(text);
  std::replace(s.begin(), s.end(), ',', '.');
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string::npos) return kTrackDefaultThreshold;
  // The number at the start of the text counts; what follows it is ignored.
  double value = 0;
  const auto [ptr, ec] = std::from_chars(s.data() + first, s.data() + s.size(), value);
  if (ec != std::errc() || !(value >= 1.1 && value <= 6)) return kTrackDefaultThreshold;
  return value;
}

TrackModel::TrackModel(std::vector<std::vector<int>> wells, std::int64_t blocks, double threshold,
                       TrackBlockReader reader)
    : wells_(std::move(wells)), blocks_(std::max<std::int64_t>(blocks, 0)), threshold_(threshold),
      reader_(std::move(reader)), detector_(std::make_unique<acquisition::ActivityDetector>()),
      marks_(store::kChannelSlots) {
  std::vector<bool> seen(kChannels, false);
  for (auto& channels : wells_) {
    std::erase_if(channels, [](int c) { return c < 0 || c >= kChannels; });
    for (const int c : channels)
      if (!seen[c]) {
        seen[c] = true;
        tracked_.push_back(c);
      }
  }
  if (std::thread::hardware_concurrency() > 1)
    helper_ = std::make_unique<acquisition::ActivityDetector>();
  counts_.resize(tracked_.size());
  tracked_marks_.resize(tracked_.size());
  reset();
}

void TrackModel::reset() {
  const std::size_t n = wells_.size();
  history_.assign(n, {});
  cumulative_.assign(n, 0);
  block_start_.assign(n, 0);
  block_distance_.assign(n * static_cast<std::size_t>(blocks_), 0);
  moved_.clear();
  unreadable_.clear();
  steps_ = 0;
  block_ = 0;
  sample_ = 0;
  if (blocks_ > 0) detect_block();
}

std::int64_t TrackModel::total_steps() const {
  return blocks_ > 0 ? blocks_ * kTrackBlockSamples - 1 : 0;
}

void TrackModel::detect_block() {
  for (auto& m : marks_)
    m.fill(0);
  for (auto& list : by_sample_)
    list.clear();
  if (!reader_ || !reader_(block_, samples_) || samples_.empty() ||
      samples_.size() % store::kChannelSlots != 0) {
    unreadable_.push_back(block_);
    return;
  }
  // Every channel's own marks, counted eight channels at a time; with a helper detector the
  // channels are shared out in two halves that touch different samples of the block.
  const acquisition::RawBlock block{samples_};
  const std::span<const int> all(tracked_);
  const std::size_t half = helper_ && tracked_.size() >= 16 ? tracked_.size() / 2 / 8 * 8 : 0;
  const auto second_half = [&] {
    helper_->detect_channels(block, all.subspan(half), threshold_, kMethodThresholdAverage,
                             std::span(counts_).subspan(half),
                             std::span(tracked_marks_).subspan(half));
  };
  std::thread helper;
  if (half > 0) {
    try {
      helper = std::thread(second_half);
    } catch (const std::system_error&) {
      second_half(); // no thread to be had: this one counts both halves
    }
  }
  const std::size_t mine = half > 0 ? half : tracked_.size();
  detector_->detect_channels(block, all.first(mine), threshold_, kMethodThresholdAverage,
                             std::span(counts_).first(mine), std::span(tracked_marks_).first(mine));
  if (helper.joinable()) helper.join();
  for (std::size_t i = 0; i < tracked_.size(); ++i)
    marks_[tracked_[i]] = tracked_marks_[i];
  // Marks are sparse (one per dip): list them by sample, by well and beam position within it,
  // so a step looks only at the beams interrupted at its sample.
  for (std::size_t w = 0; w < wells_.size(); ++w)
    for (const int c : wells_[w])
      for (int u = 0; u < kTrackBlockSamples; ++u)
        if (marks_[c][u] == -1) by_sample_[u].push_back({static_cast<int>(w), c});
}

void TrackModel::close_block() {
  for (std::size_t w = 0; w < wells_.size(); ++w) {
    block_distance_[w * blocks_ + block_] = cumulative_[w] - block_start_[w];
    block_start_[w] = cumulative_[w];
  }
}

bool TrackModel::step() {
  moved_.clear();
  if (finished()) return false;
  ++steps_;
  if (sample_ >= kTrackBlockSamples - 1) {
    close_block();
    sample_ = 0;
    ++block_;
    detect_block();
  } else {
    ++sample_;
  }
  place_animals();
  if (finished()) close_block();
  return true;
}

void TrackModel::place_animals() {
  const auto& marked = by_sample_[sample_];
  for (std::size_t i = 0; i < marked.size();) {
    TrackWellStep found;
    found.well = marked[i].well;
    double columns = 0, rows = 0;
    for (; i < marked.size() && marked[i].well == found.well; ++i) {
      const int c = marked[i].channel;
      found.interrupted.push_back(c);
      columns += store::beam_column(c);
      rows += store::beam_row(c);
    }
    const double count = static_cast<double>(found.interrupted.size());
    const TrackPoint p{columns / count, rows / count};
    auto& h = history_[found.well];
    // An animal seen for the first time starts where it is: its first position adds nothing.
    for (TrackPoint& slot : h)
      if (!slot.known()) slot = p;
    found.history = h;
    std::copy_backward(h.begin(), h.end() - 1, h.end());
    h[0] = p;
    cumulative_[found.well] += std::hypot(h[0].x - h[1].x, h[0].y - h[1].y);
    found.position = p;
    found.cumulative = cumulative_[found.well];
    moved_.push_back(std::move(found));
  }
}

} // namespace kestrova::browser
