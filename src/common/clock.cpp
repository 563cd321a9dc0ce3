#include "common/clock.hpp"

#include <ctime>
#include <thread>

namespace kestrova::common {

using namespace std::chrono;

CivilTime to_civil(LocalTime t) {
  const auto day = floor<days>(t);
  const year_month_day ymd{day};
  const hh_mm_ss<milliseconds> hms{t - day};
  return CivilTime{static_cast<int>(ymd.year()),
                   static_cast<int>(static_cast<unsigned>(ymd.month())),
                   static_cast<int>(static_cast<unsigned>(ymd.day())),
                   static_cast<int>(hms.hours().count()),
                   static_cast<int>(hms.minutes().count()),
                   static_cast<int>(hms.seconds().count()),
                   static_cast<int>(hms.subseconds().count())};
}

LocalTime from_civil(const CivilTime& c) {
  const local_days day{year{c.year} / month{static_cast<unsigned>(c.month)} /
                       std::chrono::day{static_cast<unsigned>(c.day)}};
  return LocalTime{day.time_since_epoch()} + hours{c.hour} + minutes{c.minute} + seconds{c.second} +
         milliseconds{c.millisecond};
}

double seconds_since_midnight(LocalTime t) {
  const auto day = floor<days>(t);
  return duration<double>(t - day).count();
}

LocalTime SystemClock::now() {
  const auto sys = system_clock::now();
  const std::time_t tt = system_clock::to_time_t(sys);
  std::tm tm{};
  localtime_r(&tt, &tm);
  const auto ms = duration_cast<milliseconds>(sys.time_since_epoch()) % 1000;
  return from_civil(CivilTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                              tm.tm_sec, static_cast<int>(ms.count())});
}

SteadyTime SystemClock::steady() { return steady_clock::now(); }

void SystemClock::sleep_ms(int milliseconds) {
  if (milliseconds > 0) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

} // namespace kestrova::common
