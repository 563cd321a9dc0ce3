#include "browser/track_model.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

namespace kestrova::browser {

namespace {

constexpr int kChannels = store::kChannelCount;
constexpr std::int16_t kMethodThresholdAverage = acquisition::kMethodThresholdAverage;
// Blocks detected ahead of the one the run is in, at most.
constexpr std::int64_t kAheadBlocks = 4;

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

// What detection needs, fixed for the life of a model.
struct TrackModel::Plan {
  std::vector<std::vector<int>> wells;
  std::vector<int> tracked; // every channel of a well, once
  // Where each tracked channel stands in the wells: the well, and the place in the order of
  // wells and of beams within a well, which is the order a step looks at the beams in.
  struct Place {
    int well;
    int order;
  };
  std::vector<std::vector<Place>> places; // by tracked channel
  double threshold;
  TrackBlockReader reader;
};

// A thread's detector and working memory, so detecting a block allocates nothing.
struct TrackModel::Detector {
  acquisition::ActivityDetector detector;
  std::vector<std::int16_t> samples;
  std::vector<std::int16_t> counts;
  std::vector<acquisition::ActivityDetector::ChannelMark> marks;
  struct Found {
    int sample;
    int order;
    Marked beam;
  };
  std::vector<Found> found;

  // Reads and detects block b into `out`; `reading`, when given, is held while the reader runs.
  void detect(const Plan& plan, std::int64_t b, Detected& out, std::mutex* reading) {
    out.block = b;
    out.readable = false;
    out.marked.clear();
    out.from.fill(0);
    bool read = false;
    if (plan.reader) {
      std::unique_lock<std::mutex> lock;
      if (reading) lock = std::unique_lock(*reading);
      read = plan.reader(b, samples);
    }
    if (!read || samples.empty() || samples.size() % store::kChannelSlots != 0) return;
    out.readable = true;
    // Every channel's own marks, counted a group of channels at a time. Marks are sparse (one
    // per dip): they are listed by sample, each sample's by well and beam position within it,
    // so a step looks only at the beams interrupted at its sample.
    counts.resize(plan.tracked.size());
    detector.detect_channels(acquisition::RawBlock{samples}, plan.tracked, plan.threshold,
                             kMethodThresholdAverage, counts, marks);
    found.clear();
    for (const auto& mark : marks)
      for (const Plan::Place& place : plan.places[static_cast<std::size_t>(mark.index)])
        found.push_back({mark.sample,
                         place.order,
                         {place.well, plan.tracked[static_cast<std::size_t>(mark.index)]}});
    std::sort(found.begin(), found.end(), [](const Found& x, const Found& y) {
      return x.sample != y.sample ? x.sample < y.sample : x.order < y.order;
    });
    out.marked.resize(found.size());
    for (std::size_t i = 0; i < found.size(); ++i) {
      out.marked[i] = found[i].beam;
      ++out.from[static_cast<std::size_t>(found[i].sample) + 1];
    }
    for (int u = 0; u < kTrackBlockSamples; ++u)
      out.from[u + 1] += out.from[u];
  }
};

// Detection ahead: a second thread, and the run's own thread while it waits, detect the blocks
// after the one the run is in, up to kAheadBlocks of them, each into the slot of its number.
// Blocks are claimed in order; the run takes each one when it reaches it.
class TrackModel::Ahead {
public:
  Ahead(std::shared_ptr<const Plan> plan, std::int64_t blocks, std::int64_t current)
      : plan_(std::move(plan)), blocks_(blocks), next_(current + 1), taken_(current),
        slots_(kAheadBlocks) {
    thread_ = std::thread([this] { work(); });
  }
  ~Ahead() {
    {
      std::lock_guard lock(mutex_);
      stop_ = true;
    }
    changed_.notify_all();
    thread_.join();
  }

  // Block b (the one after the last taken) into `out`, detected with `own` when no slot has it.
  void take(std::int64_t b, Detected& out, Detector& own) {
    std::unique_lock lock(mutex_);
    for (;;) {
      Slot& slot = slots_[static_cast<std::size_t>(b % kAheadBlocks)];
      if (slot.done && slot.detected.block == b) {
        slot.done = false;
        taken_ = b;
        const std::exception_ptr error = std::exchange(slot.error, nullptr);
        std::swap(out, slot.detected);
        lock.unlock();
        changed_.notify_all();
        if (error) std::rethrow_exception(error);
        return;
      }
      if (next_ <= b) { // nobody has started it: detect it here
        next_ = b + 1;
        taken_ = b;
        lock.unlock();
        changed_.notify_all();
        own.detect(*plan_, b, out, &reading_);
        return;
      }
      if (claimable()) {
        detect_next(lock, own); // rather than wait for the second thread, detect a later block
      } else {
        changed_.wait(lock);
      }
    }
  }

private:
  struct Slot {
    Detected detected;
    bool done = false;
    std::exception_ptr error;
  };

  bool claimable() const { return next_ < blocks_ && next_ <= taken_ + kAheadBlocks; }

  // Claims the next block and detects it into its slot; `lock` is held before and after.
  void detect_next(std::unique_lock<std::mutex>& lock, Detector& detector) {
    const std::int64_t b = next_++;
    Slot& slot = slots_[static_cast<std::size_t>(b % kAheadBlocks)];
    lock.unlock();
    std::exception_ptr error;
    try {
      detector.detect(*plan_, b, slot.detected, &reading_);
    } catch (...) {
      slot.detected.block = b;
      error = std::current_exception();
    }
    lock.lock();
    slot.error = error;
    slot.done = true;
    changed_.notify_all();
  }

  void work() {
    std::unique_ptr<Detector> detector;
    std::unique_lock lock(mutex_);
    while (!stop_ && next_ < blocks_) {
      if (!claimable()) {
        changed_.wait(lock);
        continue;
      }
      if (!detector) {
        lock.unlock();
        detector = std::make_unique<Detector>(); // its memory is first touched on this thread
        lock.lock();
        continue;
      }
      detect_next(lock, *detector);
    }
  }

  std::shared_ptr<const Plan> plan_;
  const std::int64_t blocks_;
  std::mutex mutex_;
  std::mutex reading_; // one reader call at a time
  std::condition_variable changed_;
  std::int64_t next_;  // the first block nobody has claimed
  std::int64_t taken_; // the last block the run took
  bool stop_ = false;
  std::vector<Slot> slots_;
  std::thread thread_;
};

TrackModel::TrackModel(std::vector<std::vector<int>> wells, std::int64_t blocks, double threshold,
                       TrackBlockReader reader)
    : wells_(std::move(wells)), blocks_(std::max<std::int64_t>(blocks, 0)),
      detector_(std::make_unique<Detector>()) {
  auto plan = std::make_shared<Plan>();
  std::array<int, kChannels> at;
  at.fill(-1);
  int order = 0;
  for (std::size_t w = 0; w < wells_.size(); ++w) {
    auto& channels = wells_[w];
    std::erase_if(channels, [](int c) { return c < 0 || c >= kChannels; });
    for (const int c : channels) {
      if (at[c] < 0) {
        at[c] = static_cast<int>(plan->tracked.size());
        plan->tracked.push_back(c);
        plan->places.emplace_back();
      }
      plan->places[static_cast<std::size_t>(at[c])].push_back({static_cast<int>(w), order++});
    }
  }
  plan->wells = wells_;
  plan->threshold = threshold;
  plan->reader = std::move(reader);
  plan_ = std::move(plan);
  reset();
}

TrackModel::~TrackModel() = default;
TrackModel::TrackModel(TrackModel&&) noexcept = default;
TrackModel& TrackModel::operator=(TrackModel&&) noexcept = default;

void TrackModel::reset() {
  ahead_.reset();
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
  current_ = {};
  if (blocks_ > 0) detect_block();
}

void TrackModel::detect_ahead(bool on) {
  if (!on) {
    ahead_.reset();
    return;
  }
  if (ahead_ || block_ + 1 >= blocks_ || std::thread::hardware_concurrency() < 2) return;
  try {
    ahead_ = std::make_unique<Ahead>(plan_, blocks_, block_);
  } catch (const std::system_error&) {
    // No thread to be had: each block is detected when the run reaches it.
  }
}

std::int64_t TrackModel::total_steps() const {
  return blocks_ > 0 ? blocks_ * kTrackBlockSamples - 1 : 0;
}

std::int16_t TrackModel::mark(int channel, int sample) const {
  if (sample < 0 || sample >= kTrackBlockSamples) return 0;
  const auto* first = current_.marked.data() + current_.from[sample];
  const auto* last = current_.marked.data() + current_.from[sample + 1];
  return std::any_of(first, last, [&](const Marked& m) { return m.channel == channel; }) ? -1 : 0;
}

void TrackModel::detect_block() {
  if (ahead_)
    ahead_->take(block_, current_, *detector_);
  else
    detector_->detect(*plan_, block_, current_, nullptr);
  if (!current_.readable) unreadable_.push_back(block_);
}

void TrackModel::close_block() {
  for (std::size_t w = 0; w < wells_.size(); ++w) {
    block_distance_[w * blocks_ + block_] = cumulative_[w] - block_start_[w];
    block_start_[w] = cumulative_[w];
  }
}

bool TrackModel::step() { return next_step(true); }

bool TrackModel::advance() { return next_step(false); }

bool TrackModel::next_step(bool record) {
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
  place_animals(record);
  if (finished()) close_block();
  return true;
}

void TrackModel::place_animals(bool record) {
  const Marked* marked = current_.marked.data() + current_.from[sample_];
  const Marked* const end = current_.marked.data() + current_.from[sample_ + 1];
  while (marked != end) {
    const int well = marked->well;
    TrackWellStep found;
    double columns = 0, rows = 0;
    int beams = 0;
    for (; marked != end && marked->well == well; ++marked) {
      const int c = marked->channel;
      if (record) found.interrupted.push_back(c);
      columns += store::beam_column(c);
      rows += store::beam_row(c);
      ++beams;
    }
    const double count = static_cast<double>(beams);
    const TrackPoint p{columns / count, rows / count};
    auto& h = history_[well];
    // An animal seen for the first time starts where it is: its first position adds nothing.
    for (TrackPoint& slot : h)
      if (!slot.known()) slot = p;
    if (record) found.history = h;
    std::copy_backward(h.begin(), h.end() - 1, h.end());
    h[0] = p;
    cumulative_[well] += std::hypot(h[0].x - h[1].x, h[0].y - h[1].y);
    if (!record) continue;
    found.well = well;
    found.position = p;
    found.cumulative = cumulative_[well];
    moved_.push_back(std::move(found));
  }
}

} // namespace kestrova::browser
