#pragma once
// A clock for tests: wall and monotonic time are virtual, and sleeps and timed waits move them
// forward at once, so an hour of waiting costs no real time.

#include <chrono>
#include <cstdint>
#include <mutex>

#include "platform/clock.h"

namespace snx::platform {

class FakeClock : public Clock {
 public:
  // Starts at 2026-01-01 00:00:00 (wall time, read as UTC).
  FakeClock();
  explicit FakeClock(WallTime start);

  // The wall time of a calendar time read as UTC, e.g. FromUtc(2026, 3, 1, 12, 0, 0).
  static WallTime FromUtc(int year, int month, int day, int hour = 0, int minute = 0,
                          int second = 0);

  WallTime WallNow() override;
  MonoTime MonoNow() override;
  // Moves both times forward by `span` and returns without waiting.
  void SleepFor(std::chrono::milliseconds span) override;
  // The calendar time of `t` read as UTC plus the offset of SetUtcOffset (none at first),
  // whatever the machine's time zone.
  LocalTime ToLocal(WallTime t) override;
  void SetUtcOffset(std::chrono::minutes offset);
  // True at once when ready(); otherwise moves time forward by the whole time-out, gives the
  // other threads a real millisecond to make ready() true, and returns ready().
  bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
               std::chrono::milliseconds timeout, const std::function<bool()>& ready) override;

  // Moves both times forward, as time passing would.
  void Advance(std::chrono::milliseconds span);
  // Sets the wall time alone (the system clock being set); monotonic time is untouched.
  void SetWall(WallTime t);

  // What the code under test asked for.
  int sleep_count() const;
  std::chrono::milliseconds total_slept() const;
  int wait_count() const;                          // WaitFor calls that had to wait
  std::chrono::milliseconds total_waited() const;  // virtual time those waits moved on

 private:
  void AdvanceLocked(std::chrono::milliseconds span);

  mutable std::mutex mutex_;
  WallTime wall_;
  MonoTime mono_;
  int sleep_count_ = 0;
  std::chrono::milliseconds total_slept_{0};
  int wait_count_ = 0;
  std::chrono::milliseconds total_waited_{0};
  std::chrono::minutes utc_offset_{0};
};

}  // namespace snx::platform
