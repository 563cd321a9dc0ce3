// Step jobs: the pauses they ask for, their end, and stopping one where it waits.
#include <gtest/gtest.h>

#include <vector>

#include "common/step_job.hpp"

namespace kestrova::common {
namespace {

struct Guard {
  int& released;
  ~Guard() { ++released; }
};

StepJob counting(std::vector<int>& trail, int& released) {
  Guard guard{released};
  for (int i = 0; i < 3; ++i) {
    trail.push_back(i);
    co_await StepJob::Pause{10 * (i + 1)};
  }
  trail.push_back(-1);
}

TEST(StepJob, RunsStepByStepAtThePausesItAsksFor) {
  std::vector<int> trail;
  int released = 0;
  StepJob job = counting(trail, released);
  EXPECT_TRUE(job.running());
  EXPECT_TRUE(trail.empty()); // nothing runs before the first step
  std::vector<int> pauses;
  while (job.resume())
    pauses.push_back(job.pause_ms());
  EXPECT_EQ(pauses, (std::vector<int>{10, 20, 30}));
  EXPECT_EQ(trail, (std::vector<int>{0, 1, 2, -1}));
  EXPECT_FALSE(job.running());
  EXPECT_FALSE(job.resume());
  EXPECT_EQ(released, 1);
}

TEST(StepJob, StoppingWhereItWaitsReleasesItsState) {
  std::vector<int> trail;
  int released = 0;
  StepJob job = counting(trail, released);
  job.resume();
  job.resume();
  job.reset();
  EXPECT_FALSE(job.running());
  EXPECT_EQ(released, 1);
  EXPECT_EQ(trail, (std::vector<int>{0, 1}));

  // Moving a job over another stops the one it replaces.
  StepJob first = counting(trail, released);
  first.resume();
  first = counting(trail, released);
  EXPECT_EQ(released, 2);
  EXPECT_EQ(first.pause_ms(), 0);
  EXPECT_TRUE(first.resume());
}

} // namespace
} // namespace kestrova::common
