#include "browser/track_model.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <string>

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
  for (auto& channels : wells_)
    std::erase_if(channels, [](int c) { return c < 0 || c >= kChannels; });
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
  if (!reader_ || !reader_(block_, samples_) || samples_.empty() ||
      samples_.size() % store::kChannelSlots != 0) {
    unreadable_.push_back(block_);
    return;
  }
  // Each channel is detected on its own, with the marks cleared first, so its marks are its own.
  auto& shared_marks = detector_->detection_marks();
  for (const auto& channels : wells_) {
    for (const int c : channels) {
      shared_marks.fill(0);
      detector_->detect_activity(acquisition::RawBlock{samples_}, c, threshold_,
                                 kMethodThresholdAverage, 0, std::string(), 0);
      marks_[c] = shared_marks;
    }
  }
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
  for (std::size_t w = 0; w < wells_.size(); ++w) {
    TrackWellStep found;
    double columns = 0, rows = 0;
    for (const int c : wells_[w]) {
      if (marks_[c][sample_] != -1) continue;
      found.interrupted.push_back(c);
      columns += store::beam_column(c);
      rows += store::beam_row(c);
    }
    if (found.interrupted.empty()) continue;
    const double count = static_cast<double>(found.interrupted.size());
    const TrackPoint p{columns / count, rows / count};
    auto& h = history_[w];
    // An animal seen for the first time starts where it is: its first position adds nothing.
    for (TrackPoint& slot : h)
      if (!slot.known()) slot = p;
    found.history = h;
    std::copy_backward(h.begin(), h.end() - 1, h.end());
    h[0] = p;
    cumulative_[w] += std::hypot(h[0].x - h[1].x, h[0].y - h[1].y);
    found.well = static_cast<int>(w);
    found.position = p;
    found.cumulative = cumulative_[w];
    moved_.push_back(std::move(found));
  }
}

} // namespace kestrova::browser
