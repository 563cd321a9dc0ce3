#pragma once

#include <functional>
#include <vector>

#include "common/clock.hpp"
#include "common/event_pump.hpp"

namespace kestrova::testing {

// Virtual time: sleep_ms moves the clock forward at once and records the pause. Passing time
// (sleep_ms, advance_ms) moves the wall clock and the monotonic clock alike; setting the wall
// clock (set, step_wall_ms) leaves the monotonic clock where it is, as a real clock step does.
class FakeClock final : public common::Clock {
public:
  explicit FakeClock(common::CivilTime start = {2026, 1, 15, 10, 30, 0, 0})
      : now_(common::from_civil(start)) {}

  common::LocalTime now() override { return now_; }
  common::SteadyTime steady() override { return steady_; }
  void sleep_ms(int milliseconds) override;

  void advance_ms(long long milliseconds) {
    now_ += std::chrono::milliseconds(milliseconds);
    steady_ += std::chrono::milliseconds(milliseconds);
  }
  void set(const common::CivilTime& c) { now_ = common::from_civil(c); }
  void step_wall_ms(long long milliseconds) { now_ += std::chrono::milliseconds(milliseconds); }
  const std::vector<int>& sleeps() const { return sleeps_; }
  long long total_slept_ms() const;

  // Runs after every sleep, e.g. to let a simulated device progress.
  std::function<void(int)> on_sleep;

private:
  common::LocalTime now_;
  common::SteadyTime steady_{};
  std::vector<int> sleeps_;
};

// Counts the times pending events were let run; an optional hook plays a click inside a loop.
class FakeEventPump final : public common::EventPump {
public:
  void process_events() override {
    ++calls;
    if (hook) hook(calls);
  }
  // Waiting counts apart from process_events; the hook runs for both (it stands for the
  // timer ticks and clicks that arrive meanwhile).
  void wait_for_events() override {
    ++waits;
    if (hook) hook(calls);
  }
  int calls = 0;
  int waits = 0;
  std::function<void(int)> hook;
};

} // namespace kestrova::testing
