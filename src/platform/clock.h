#pragma once
// Wall time, monotonic time, sleeps and timed waits. Every sleep, time-out and "now" of the
// system goes through the installed Clock, so a fake clock can run hours of waiting in no time.

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>

#include "platform/installed.h"

namespace snx::platform {

struct LocalTime {
  int year = 1970;  // full year, e.g. 2026
  int month = 1;    // 1..12
  int day = 1;      // 1..31
  int hour = 0;     // 0..23
  int minute = 0;
  int second = 0;
  int utc_offset_minutes = 0;  // local time minus UTC, e.g. -360 for 6 hours west of Greenwich
};

class Clock {
 public:
  using WallTime = std::chrono::system_clock::time_point;
  using MonoTime = std::chrono::steady_clock::time_point;

  virtual ~Clock() = default;
  virtual WallTime WallNow() = 0;
  virtual MonoTime MonoNow() = 0;
  virtual void SleepFor(std::chrono::milliseconds span) = 0;
  // The local calendar time of a wall time.
  virtual LocalTime ToLocal(WallTime t) = 0;
  // Waits on `cv` (with `lock` held) until `ready` is true or `timeout` has passed.
  // Returns ready().
  virtual bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                       std::chrono::milliseconds timeout, const std::function<bool()>& ready) = 0;
};

template <>
Clock& DefaultFacility<Clock>();

// A negative span waits not at all; a huge one (an "infinite" wait) is cut to ten years, a
// length no clock arithmetic overflows on.
std::chrono::milliseconds BoundedWait(std::chrono::milliseconds span);

// Days since 1899-12-30 as a double, the date form the uptime record keeps.
double ToOleDate(Clock::WallTime t);

// Days in a month (1 to 12) of the Gregorian calendar.
int DaysInMonth(int year, int month);

// Seconds since 1970-01-01 00:00:00 of a valid calendar time, read without any time zone.
std::int64_t CalendarSeconds(int year, int month, int day, int hour, int minute, int second);

}  // namespace snx::platform
