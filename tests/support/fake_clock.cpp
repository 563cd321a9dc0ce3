#include "support/fake_clock.hpp"

#include <numeric>

namespace kestrova::testing {

void FakeClock::sleep_ms(int milliseconds) {
  sleeps_.push_back(milliseconds);
  if (milliseconds > 0) advance_ms(milliseconds);
  if (on_sleep) on_sleep(milliseconds);
}

long long FakeClock::total_slept_ms() const {
  return std::accumulate(sleeps_.begin(), sleeps_.end(), 0LL);
}

} // namespace kestrova::testing
