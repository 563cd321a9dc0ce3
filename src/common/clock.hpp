#pragma once

#include <chrono>
#include <cstdint>

namespace kestrova::common {

// Local wall-clock time with millisecond resolution (no time zone attached).
using LocalTime = std::chrono::local_time<std::chrono::milliseconds>;

// A broken-down local date and time.
struct CivilTime {
  int year = 2000;
  int month = 1; // 1..12
  int day = 1;   // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;

  friend bool operator==(const CivilTime&, const CivilTime&) = default;
};

CivilTime to_civil(LocalTime t);
LocalTime from_civil(const CivilTime& c);

// Seconds since local midnight, with fractions (the "timer" of the day).
double seconds_since_midnight(LocalTime t);

// A point of monotonic time: it moves on at the pace of real time and never jumps when the
// wall clock is set (daylight saving, a manual or network correction). For durations only.
using SteadyTime = std::chrono::steady_clock::time_point;

// The date and time source and the sleeper. Real code waits; the test clock moves
// virtual time, so a 150 ms retry ladder or a long acquisition takes no real time.
class Clock {
public:
  virtual ~Clock() = default;
  // Wall-clock local time: for names, stamps and hours of the day.
  virtual LocalTime now() = 0;
  // Monotonic time: for elapsed times.
  virtual SteadyTime steady() = 0;
  virtual void sleep_ms(int milliseconds) = 0;
};

// The machine's local clock and a real sleep.
class SystemClock final : public Clock {
public:
  LocalTime now() override;
  SteadyTime steady() override;
  void sleep_ms(int milliseconds) override;
};

} // namespace kestrova::common
