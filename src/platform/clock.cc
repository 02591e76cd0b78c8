#include "platform/clock.h"

namespace snx::platform {

double ToOleDate(Clock::WallTime t) {
  // 1899-12-30 is day 0; the Unix epoch 1970-01-01 is day 25569.
  constexpr double kUnixEpochDay = 25569.0;
  constexpr double kSecondsPerDay = 86400.0;
  const std::chrono::duration<double> since_epoch = t.time_since_epoch();
  return kUnixEpochDay + since_epoch.count() / kSecondsPerDay;
}

int DaysInMonth(int year, int month) {
  using namespace std::chrono;
  const year_month_day_last last(std::chrono::year(year),
                                 month_day_last(std::chrono::month(static_cast<unsigned>(month))));
  return static_cast<int>(static_cast<unsigned>(last.day()));
}

std::int64_t CalendarSeconds(int year, int month, int day, int hour, int minute, int second) {
  using namespace std::chrono;
  const sys_days date =
      year_month_day(std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                     std::chrono::day(static_cast<unsigned>(day)));
  return std::int64_t{date.time_since_epoch().count()} * 86400 + hour * 3600 + minute * 60 + second;
}

std::chrono::milliseconds BoundedWait(std::chrono::milliseconds span) {
  constexpr std::chrono::milliseconds kLongest = std::chrono::hours(24 * 365 * 10);
  if (span < std::chrono::milliseconds::zero()) return std::chrono::milliseconds::zero();
  return span > kLongest ? kLongest : span;
}

}  // namespace snx::platform
