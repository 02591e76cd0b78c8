#include "platform/clock.h"

namespace snx::platform {

double ToOleDate(Clock::WallTime t) {
  // 1899-12-30 is day 0; the Unix epoch 1970-01-01 is day 25569.
  constexpr double kUnixEpochDay = 25569.0;
  constexpr double kSecondsPerDay = 86400.0;
  const std::chrono::duration<double> since_epoch = t.time_since_epoch();
  return kUnixEpochDay + since_epoch.count() / kSecondsPerDay;
}

std::chrono::milliseconds BoundedWait(std::chrono::milliseconds span) {
  constexpr std::chrono::milliseconds kLongest = std::chrono::hours(24 * 365 * 10);
  if (span < std::chrono::milliseconds::zero()) return std::chrono::milliseconds::zero();
  return span > kLongest ? kLongest : span;
}

}  // namespace snx::platform
