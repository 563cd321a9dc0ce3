#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "browser/track_fixture.hpp"
#include "browser/track_model.hpp"
#include "store/channel_grid.hpp"

namespace kestrova::browser {
namespace {

using store::channel_of_beam;
using testing::craft_blocks;
using testing::Dip;

// A reader over crafted blocks; block numbers in `broken` fail.
TrackBlockReader reader_of(std::vector<std::vector<std::int16_t>> blocks,
                           std::vector<std::int64_t> broken = {}) {
  return [blocks = std::move(blocks), broken](std::int64_t b, std::vector<std::int16_t>& out) {
    if (std::find(broken.begin(), broken.end(), b) != broken.end()) return false;
    out = blocks.at(static_cast<std::size_t>(b));
    return true;
  };
}

TrackModel run_to_end(std::vector<std::vector<int>> wells, std::int64_t blocks,
                      const std::vector<Dip>& dips) {
  TrackModel model(std::move(wells), blocks, 1.8, reader_of(craft_blocks(blocks, dips)));
  while (model.step()) {
  }
  return model;
}

const int b23 = channel_of_beam(2, 3), b33 = channel_of_beam(3, 3), b57 = channel_of_beam(5, 7);

TEST(TrackModel, PlacesTheAnimalAndSumsItsDistance) {
  struct Case {
    const char* name;
    std::vector<Dip> dips;
    TrackPoint position;           // of well 0 at the end
    double cumulative;             // of well 0
    std::vector<double> per_block; // of well 0, blocks 0 and 1
  };
  const Case cases[] = {
      {"two interrupted beams give their mean", {{0, 10, {b23, b33}}}, {2.5, 3}, 0, {0, 0}},
      {"the first sighting adds nothing", {{0, 10, {b57}}}, {5, 7}, 0, {0, 0}},
      {"(2,3) to (5,7) adds 5 pitches", {{0, 10, {b23}}, {0, 30, {b57}}}, {5, 7}, 5, {5, 0}},
      {"a sample with no interrupted beam keeps position and distance",
       {{0, 10, {b23}}, {0, 30, {b57}}, {0, 60, {}}},
       {5, 7},
       5,
       {5, 0}},
      {"there and back", {{0, 10, {b23}}, {0, 30, {b57}}, {1, 30, {b23}}}, {2, 3}, 10, {5, 5}},
      {"a move across the block boundary counts in the later block",
       {{0, 490, {b23}}, {1, 10, {b57}}},
       {5, 7},
       5,
       {0, 5}},
      {"the last block is closed too", {{1, 400, {b23}}, {1, 495, {b57}}}, {5, 7}, 5, {0, 5}},
      {"from a two-beam position", {{0, 10, {b23, b33}}, {0, 40, {b23}}}, {2, 3}, 0.5, {0.5, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const TrackModel model = run_to_end({{b23, b33, b57}, {channel_of_beam(20, 1)}}, 2, c.dips);
    EXPECT_EQ(model.history(0)[0], c.position);
    EXPECT_NEAR(model.cumulative(0), c.cumulative, 1e-12);
    EXPECT_NEAR(model.block_distance(0, 0), c.per_block[0], 1e-12);
    EXPECT_NEAR(model.block_distance(0, 1), c.per_block[1], 1e-12);
    EXPECT_FALSE(model.history(1)[0].known()) << "the other well never saw its animal";
    EXPECT_EQ(model.cumulative(1), 0);
  }
}

TEST(TrackModel, FillsUnknownHistoryWithTheFirstPositionThenShifts) {
  TrackModel model({{b23, b57}}, 1, 1.8,
                   reader_of(craft_blocks(1, {{0, 10, {b23}}, {0, 20, {b57}}})));
  while (model.position() < 10)
    ASSERT_TRUE(model.step());
  ASSERT_EQ(model.last_step().size(), 1u);
  const TrackWellStep& first = model.last_step()[0];
  EXPECT_EQ(first.interrupted, std::vector<int>{b23});
  for (const TrackPoint& p : first.history)
    EXPECT_EQ(p, (TrackPoint{2, 3})) << "slots still unknown take the first position";
  while (model.position() < 20)
    ASSERT_TRUE(model.step());
  const auto& h = model.history(0);
  EXPECT_EQ(h[0], (TrackPoint{5, 7}));
  EXPECT_EQ(h[1], (TrackPoint{2, 3}));
  EXPECT_EQ(model.last_step()[0].history[0], (TrackPoint{2, 3})) << "drawn from before the shift";
  EXPECT_DOUBLE_EQ(model.last_step()[0].cumulative, 5);
}

TEST(TrackModel, StepsThroughEverySampleOfEveryBlockOnce) {
  TrackModel model({{b23}}, 3, 1.8, reader_of(craft_blocks(3, {})));
  EXPECT_EQ(model.total_steps(), 1499);
  EXPECT_EQ(model.position(), 0);
  ASSERT_TRUE(model.step());
  EXPECT_EQ(model.sample_index(), 1) << "the first step looks at sample 1";
  std::int64_t steps = 1;
  while (model.step())
    ++steps;
  EXPECT_EQ(steps, 1499);
  EXPECT_EQ(model.block_index(), 2);
  EXPECT_EQ(model.sample_index(), 499);
  EXPECT_TRUE(model.finished());
  EXPECT_FALSE(model.step());

  model.reset();
  EXPECT_EQ(model.steps_done(), 0);
  EXPECT_EQ(model.position(), 0);
}

TEST(TrackModel, EachChannelKeepsItsOwnDetectionMarks) {
  TrackModel model({{b23, b57}}, 1, 1.8,
                   reader_of(craft_blocks(1, {{0, 10, {b23}}, {0, 200, {b57}}})));
  EXPECT_EQ(model.mark(b23, 10), -1);
  EXPECT_EQ(model.mark(b23, 200), 0);
  EXPECT_EQ(model.mark(b57, 200), -1);
  EXPECT_EQ(model.mark(b57, 10), 0);
  EXPECT_EQ(model.mark(b23, 11), 0) << "one mark per dip: the crossing";
}

TEST(TrackModel, AnUnreadableBlockIsTrackedEmptyAndReported) {
  TrackModel model(
      {{b23, b57}}, 3, 1.8,
      reader_of(craft_blocks(3, {{0, 10, {b23}}, {1, 10, {b57}}, {2, 10, {b23}}}), {1}));
  while (model.step()) {
  }
  EXPECT_EQ(model.unreadable_blocks(), std::vector<std::int64_t>{1});
  EXPECT_EQ(model.block_distance(0, 1), 0);
  EXPECT_EQ(model.block_distance(0, 2), 0) << "the animal never left (2,3)";
}

// Export Data steps quietly with the blocks detected ahead on a second thread: every position
// and distance must be exactly (bit for bit) what stepping one by one gives, also where blocks
// cannot be read, at the last block, and when the quiet run starts from a paused animation.
TEST(TrackModel, QuietStepsDetectedAheadGiveExactlyTheDistancesOfSteppingOneByOne) {
  const auto wells = testing::w6_wells();
  // Animals hopping between random beams of their wells, some on two beams at once, so the
  // distances are sums of many inexact square roots.
  const auto walks = [&](std::int64_t blocks, unsigned seed) {
    std::mt19937 rng(seed);
    auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::vector<Dip> dips;
    for (std::int64_t b = 0; b < blocks; ++b)
      for (int w = 0; w < 6; w += 1 + (b % 2))
        for (int u = 2 + w; u < 496; u += uniform(6, 60)) {
          const auto& beams = wells[static_cast<std::size_t>(w)];
          const int i = uniform(0, static_cast<int>(beams.size()) - 2);
          dips.push_back({b, u,
                          uniform(0, 2) == 0 ? std::vector<int>{beams[i], beams[i + 1]}
                                             : std::vector<int>{beams[i]}});
        }
    return dips;
  };
  struct Case {
    const char* name;
    std::int64_t blocks;
    std::vector<std::int64_t> broken;
    std::int64_t quiet_from; // steps done one by one before the quiet run
  };
  const Case cases[] = {
      {"a run longer than the blocks detected ahead", 9, {}, 0},
      {"unreadable blocks: the first, two in a row and the last", 8, {0, 3, 4, 7}, 0},
      {"one block: nothing to detect ahead", 1, {}, 0},
      {"two blocks, the second unreadable", 2, {1}, 0},
      {"from a paused animation in the middle of block 2", 7, {5}, 2 * 500 + 137},
      {"from the last sample of block 3", 7, {}, 4 * 500 - 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto blocks = craft_blocks(c.blocks, walks(c.blocks, 17));
    TrackModel one_by_one(wells, c.blocks, 1.8, reader_of(blocks, c.broken));
    while (one_by_one.step()) {
    }
    TrackModel quiet(wells, c.blocks, 1.8, reader_of(blocks, c.broken));
    for (std::int64_t i = 0; i < c.quiet_from; ++i)
      ASSERT_TRUE(quiet.step());
    quiet.detect_ahead(true);
    std::int64_t steps = 0;
    while (quiet.advance()) {
      ++steps;
      ASSERT_TRUE(quiet.last_step().empty());
    }
    EXPECT_EQ(steps, one_by_one.total_steps() - c.quiet_from);
    EXPECT_EQ(quiet.unreadable_blocks(), one_by_one.unreadable_blocks());
    EXPECT_EQ(quiet.unreadable_blocks(), c.broken);
    double moved = 0;
    for (int w = 0; w < 6; ++w) {
      SCOPED_TRACE(w);
      EXPECT_EQ(quiet.cumulative(w), one_by_one.cumulative(w));
      EXPECT_EQ(quiet.history(w), one_by_one.history(w));
      for (std::int64_t b = 0; b < c.blocks; ++b)
        EXPECT_EQ(quiet.block_distance(w, b), one_by_one.block_distance(w, b)) << b;
      moved += one_by_one.cumulative(w);
    }
    if (c.broken.size() < static_cast<std::size_t>(c.blocks)) {
      EXPECT_GT(moved, 10);
    }

    // Played again from the start with detection ahead switched off, it gives the same again.
    quiet.reset();
    EXPECT_EQ(quiet.unreadable_blocks().empty(), c.broken.empty() || c.broken[0] != 0);
    quiet.detect_ahead(true);
    for (int i = 0; i < 700 && quiet.advance(); ++i) {
    }
    quiet.detect_ahead(false);
    while (quiet.step()) {
    }
    for (int w = 0; w < 6; ++w)
      for (std::int64_t b = 0; b < c.blocks; ++b)
        EXPECT_EQ(quiet.block_distance(w, b), one_by_one.block_distance(w, b)) << w << " " << b;
  }
}

// The track takes every channel's own marks from the eight-channel count; they must be the
// marks of that channel counted alone, on noisy signals with dips, for each method that marks.
TEST(DetectionChannelMarks, EqualTheMarksOfEachChannelCountedAlone) {
  std::mt19937 rng(5);
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
  std::vector<std::int16_t> block(501 * store::kChannelSlots, 0);
  for (int c = 0; c < store::kChannelCount; ++c) {
    const int level = uniform(800, 3000), noise = uniform(1, 40);
    for (int k = 0; k < 500; ++k)
      block[k * store::kChannelSlots + c] =
          static_cast<std::int16_t>(level + uniform(-noise, noise));
    for (int d = uniform(0, 12); d > 0; --d) {
      const int at = uniform(0, 495);
      for (int k = at; k < std::min(500, at + uniform(1, 20)); ++k)
        block[k * store::kChannelSlots + c] = static_cast<std::int16_t>(level / uniform(2, 4));
    }
  }
  // Not in channel order, with a gap, and more than one group of eight.
  std::vector<int> channels;
  for (int c = 0; c < store::kChannelCount; c += 3)
    channels.push_back((c * 7) % store::kChannelCount);
  for (const std::int16_t method : {0, 1, 3}) {
    SCOPED_TRACE(method);
    const double threshold = method == 3 ? 0.8 : 1.8;
    std::vector<std::int16_t> lanes_block = block;
    acquisition::ActivityDetector lanes;
    std::vector<std::int16_t> counts(channels.size());
    std::vector<std::array<std::int16_t, acquisition::kTraceLength>> marks(channels.size());
    lanes.detect_channels(acquisition::RawBlock{lanes_block}, channels, threshold, method, counts,
                          marks);
    std::vector<std::int16_t> single_block = block;
    acquisition::ActivityDetector single;
    int marked = 0;
    for (std::size_t i = 0; i < channels.size(); ++i) {
      single.detection_marks().fill(0);
      const std::int16_t count = single.detect_activity(acquisition::RawBlock{single_block},
                                                        channels[i], threshold, method, 0, "", 0);
      ASSERT_EQ(counts[i], count) << channels[i];
      ASSERT_EQ(marks[i], single.detection_marks()) << channels[i];
      marked += static_cast<int>(std::count(marks[i].begin(), marks[i].end(), -1));
    }
    EXPECT_GT(marked, 100);

    // The sparse list of marks holds exactly the same marks, and the same counts.
    std::vector<std::int16_t> listed_block = block;
    std::vector<std::int16_t> listed_counts(channels.size());
    std::vector<acquisition::ActivityDetector::ChannelMark> list{{0, 0}};
    lanes.detect_channels(acquisition::RawBlock{listed_block}, channels, threshold, method,
                          listed_counts, list);
    EXPECT_EQ(listed_counts, counts);
    std::vector<std::array<std::int16_t, acquisition::kTraceLength>> from_list(channels.size());
    for (auto& m : from_list)
      m.fill(0);
    for (const auto& mark : list) {
      auto& m = from_list.at(static_cast<std::size_t>(mark.index))
                    .at(static_cast<std::size_t>(mark.sample));
      EXPECT_EQ(m, 0) << "listed twice: " << mark.index << " " << mark.sample;
      m = -1;
    }
    EXPECT_EQ(from_list, marks);
  }
}

TEST(TrackThreshold, ReadsTheTypedValueOrFallsBackTo18) {
  const std::pair<const char*, double> cases[] = {
      {"2.5", 2.5}, {"2,5", 2.5}, {"1.1", 1.1}, {"6", 6},   {"6.01", 1.8}, {"1.0", 1.8},
      {"0.8", 1.8}, {"", 1.8},    {"abc", 1.8}, {" 3x", 3}, {"-2", 1.8},   {"nan", 1.8},
  };
  for (const auto& [text, expected] : cases)
    EXPECT_DOUBLE_EQ(track_threshold(text), expected) << '"' << text << '"';
}

// An animal walking a known path over the beams of w6 wells, across three blocks: the distance
// is the path's length in beam pitches, and each block holds the part walked in it.
TEST(TrackModel, SyntheticWalkOnW6GivesThePathLength) {
  const auto wells = testing::w6_wells();
  ASSERT_EQ(wells.size(), 6u);
  struct Walker {
    int well;
    std::vector<std::vector<int>> stops; // beams interrupted at each stop
  };
  std::vector<Walker> walkers;
  Walker all_beams{0, {}};
  for (const int c : wells[0])
    all_beams.stops.push_back({c});
  walkers.push_back(all_beams);
  // Well 4: back and forth between pairs of neighbouring beams and single beams.
  const auto& w4 = wells[4];
  Walker pairs{4, {}};
  for (int round = 0; round < 8; ++round)
    pairs.stops.push_back(round % 2 ? std::vector<int>{w4[0], w4[1]}
                                    : std::vector<int>{w4[w4.size() - 1 - round]});
  walkers.push_back(pairs);

  constexpr std::int64_t kBlocks = 3;
  constexpr int kSpacing = 37; // samples between stops: the walks run into blocks 1 and 2
  std::vector<Dip> dips;
  std::vector<std::vector<double>> expected(6, std::vector<double>(kBlocks, 0));
  std::vector<double> total(6, 0);
  for (const Walker& walker : walkers) {
    TrackPoint last;
    for (std::size_t i = 0; i < walker.stops.size(); ++i) {
      const std::int64_t at = 100 + static_cast<std::int64_t>(i) * kSpacing + walker.well;
      dips.push_back({at / 500, static_cast<int>(at % 500), walker.stops[i]});
      TrackPoint p{0, 0};
      for (const int c : walker.stops[i]) {
        p.x += store::beam_column(c) / static_cast<double>(walker.stops[i].size());
        p.y += store::beam_row(c) / static_cast<double>(walker.stops[i].size());
      }
      if (i > 0) {
        const double d = std::hypot(p.x - last.x, p.y - last.y);
        expected[walker.well][at / 500] += d;
        total[walker.well] += d;
      }
      last = p;
    }
  }
  ASSERT_EQ(std::max_element(dips.begin(), dips.end(),
                             [](const Dip& a, const Dip& b) { return a.block < b.block; })
                ->block,
            kBlocks - 1);
  const TrackModel model = run_to_end(wells, kBlocks, dips);
  for (const Walker& walker : walkers) {
    SCOPED_TRACE(walker.well);
    EXPECT_GT(total[walker.well], 10);
    EXPECT_NEAR(model.cumulative(walker.well), total[walker.well], 1e-9);
    for (std::int64_t b = 0; b < kBlocks; ++b)
      EXPECT_NEAR(model.block_distance(walker.well, b), expected[walker.well][b], 1e-9) << b;
  }
  for (const int idle : {1, 2, 3, 5})
    EXPECT_EQ(model.cumulative(idle), 0) << idle;
}

} // namespace
} // namespace kestrova::browser
