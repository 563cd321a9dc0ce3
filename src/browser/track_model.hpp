#pragma once

// The track of single large animals on a 6-well plate: replays the raw samples of an acquisition
// sample by sample, places the animal of every well at the mean beam of the beams it interrupts
// and sums the distance it travels, per well and per block of 500 samples. Distances are in beam
// pitches. No I/O and no drawing: the blocks come from a reader, and the wells that moved in a
// step are handed back for drawing.

#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

#include "acquisition/detection.hpp"
#include "store/channel_grid.hpp"

namespace kestrova::browser {

// Samples stepped through per block; the step counter and the page text count in these.
inline constexpr int kTrackBlockSamples = 500;
// Positions kept per well: slot 0 the latest, slot 4 the oldest.
inline constexpr int kTrackHistorySlots = 5;
// The threshold a track detects with when the typed one is missing or outside 1.1..6.
inline constexpr double kTrackDefaultThreshold = 1.8;

// A position on the beam grid: x = beam column, y = beam row; (-1, -1) while unknown.
struct TrackPoint {
  double x = -1;
  double y = -1;
  bool known() const { return !(x == -1 && y == -1); }
  friend bool operator==(const TrackPoint&, const TrackPoint&) = default;
};

// What one step found in a well whose animal interrupted at least one beam.
struct TrackWellStep {
  int well = 0;
  std::vector<int> interrupted;                       // channels with a detection mark
  TrackPoint position;                                // mean column and row of those beams
  std::array<TrackPoint, kTrackHistorySlots> history; // before the shift, unknown slots filled
  double cumulative = 0; // beam pitches since the start, after the step
};

// Fills `samples` with block b ((B + 1) x 385 samples, channel fastest); false when the block
// cannot be read.
using TrackBlockReader =
    std::function<bool(std::int64_t block, std::vector<std::int16_t>& samples)>;

// The threshold a track detects with, from the text typed for it: a comma reads as a point; a
// value that is not a number or lies outside 1.1 to 6 becomes 1.8.
double track_threshold(std::string_view text);

// The stepped computation. Blocks 0..blocks-1 are tracked; the run ends on the last sample of
// the last block, which is then closed like the others. The first step moves to sample 1 of
// block 0 (sample 0 is where the run stands before it starts).
class TrackModel {
public:
  // wells[w]: the channels of well w (0..W) in beam-position order; channels outside 0..383 are
  // ignored.
  TrackModel(std::vector<std::vector<int>> wells, std::int64_t blocks, double threshold,
             TrackBlockReader reader);
  ~TrackModel();
  TrackModel(TrackModel&&) noexcept;
  TrackModel& operator=(TrackModel&&) noexcept;

  // Back to the state before the first step: positions unknown, distances 0, block 0 with its
  // detection marks. Detection ahead stops.
  void reset();

  // Steps the run has in all, and the steps done.
  std::int64_t total_steps() const;
  std::int64_t steps_done() const { return steps_; }
  bool finished() const { return steps_ >= total_steps(); }

  // One step: to the next sample (closing the block and detecting the next one after sample
  // 499), then every well's position and distance. False when the run had finished already.
  bool step();
  // The same step without handing back the wells that moved (last_step() stays empty), for runs
  // that draw nothing; positions and distances are exactly those step() gives.
  bool advance();

  // With `on`, the blocks after the current one are read and detected ahead on a second thread
  // where the processor has more than one core (the reader is then called from either thread,
  // one call at a time); without, each block is detected when the run reaches it. Results are
  // the same either way.
  void detect_ahead(bool on);

  // Wells whose animal interrupted a beam in the last step.
  const std::vector<TrackWellStep>& last_step() const { return moved_; }

  int wells() const { return static_cast<int>(wells_.size()); }
  const std::vector<int>& channels_of(int well) const { return wells_[well]; }
  std::int64_t blocks() const { return blocks_; }
  std::int64_t block_index() const { return block_; }
  int sample_index() const { return sample_; }
  // Sample position of the run: block x 500 + sample.
  std::int64_t position() const { return block_ * kTrackBlockSamples + sample_; }

  const std::array<TrackPoint, kTrackHistorySlots>& history(int well) const {
    return history_[well];
  }
  double cumulative(int well) const { return cumulative_[well]; }
  // Distance of the well within block b; 0 until the block is closed.
  double block_distance(int well, std::int64_t block) const {
    return block_distance_[static_cast<std::size_t>(well) * blocks_ + block];
  }
  // The detection mark (-1 counted, 0 not) of a channel at a sample of the current block.
  std::int16_t mark(int channel, int sample) const;
  // Blocks that could not be read; they are tracked as if no beam were interrupted.
  const std::vector<std::int64_t>& unreadable_blocks() const { return unreadable_; }

private:
  // A beam marked at a sample: the well it belongs to and its channel.
  struct Marked {
    int well;
    int channel;
  };
  // One block's detection: the beams marked, by sample, each sample's by well and beam
  // position within it.
  struct Detected {
    std::int64_t block = -1;
    bool readable = false;
    std::vector<Marked> marked;
    std::array<int, kTrackBlockSamples + 1> from{}; // sample u: marked[from[u]..from[u + 1])
  };
  struct Plan;
  class Ahead;
  struct Detector;

  void detect_block();
  void close_block();
  bool next_step(bool record);
  void place_animals(bool record);

  std::vector<std::vector<int>> wells_;
  std::int64_t blocks_;
  std::shared_ptr<const Plan> plan_;   // what detection needs, shared with the second thread
  std::unique_ptr<Detector> detector_; // this thread's
  std::unique_ptr<Ahead> ahead_;       // while detecting ahead
  Detected current_;

  std::int64_t steps_ = 0;
  std::int64_t block_ = 0;
  int sample_ = 0;
  std::vector<std::array<TrackPoint, kTrackHistorySlots>> history_;
  std::vector<double> cumulative_;
  std::vector<double> block_start_;
  std::vector<double> block_distance_;
  std::vector<TrackWellStep> moved_;
  std::vector<std::int64_t> unreadable_;
};

} // namespace kestrova::browser
