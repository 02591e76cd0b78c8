#include "platform/fake/fake_clock.h"

#include <thread>

namespace snx::platform {
FakeClock::FakeClock() : FakeClock(FromUtc(2026, 1, 1)) {}

// Monotonic time starts well away from zero, so no code mistakes it for "never".
FakeClock::FakeClock(WallTime start) : wall_(start), mono_(MonoTime() + std::chrono::hours(1000)) {}

Clock::WallTime FakeClock::FromUtc(int year, int month, int day, int hour, int minute, int second) {
  using namespace std::chrono;
  const sys_days date =
      year_month_day(std::chrono::year(year), std::chrono::month(static_cast<unsigned>(month)),
                     std::chrono::day(static_cast<unsigned>(day)));
  return time_point_cast<system_clock::duration>(date + hours(hour) + minutes(minute) +
                                                 seconds(second));
}

Clock::WallTime FakeClock::WallNow() {
  std::lock_guard<std::mutex> lock(mutex_);
  return wall_;
}

Clock::MonoTime FakeClock::MonoNow() {
  std::lock_guard<std::mutex> lock(mutex_);
  return mono_;
}

void FakeClock::SleepFor(std::chrono::milliseconds span) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    ++sleep_count_;
    total_slept_ += BoundedWait(span);
    AdvanceLocked(BoundedWait(span));
  }
  // Let other threads run, as a real sleep would.
  std::this_thread::yield();
}

LocalTime FakeClock::ToLocal(WallTime t) {
  using namespace std::chrono;
  minutes offset;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    offset = utc_offset_;
  }
  t += offset;
  const sys_days date = floor<days>(t);
  const year_month_day ymd(date);
  const hh_mm_ss<seconds> time(floor<seconds>(t - date));
  LocalTime out;
  out.year = static_cast<int>(ymd.year());
  out.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
  out.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
  out.hour = static_cast<int>(time.hours().count());
  out.minute = static_cast<int>(time.minutes().count());
  out.second = static_cast<int>(time.seconds().count());
  out.utc_offset_minutes = static_cast<int>(offset.count());
  return out;
}

void FakeClock::SetUtcOffset(std::chrono::minutes offset) {
  std::lock_guard<std::mutex> lock(mutex_);
  utc_offset_ = offset;
}

bool FakeClock::WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
                        std::chrono::milliseconds timeout, const std::function<bool()>& ready) {
  if (ready()) return true;
  {
    std::lock_guard<std::mutex> guard(mutex_);
    ++wait_count_;
    total_waited_ += BoundedWait(timeout);
    AdvanceLocked(BoundedWait(timeout));
  }
  // A real millisecond for the thread that would make ready() true.
  cv.wait_for(lock, std::chrono::milliseconds(1), ready);
  return ready();
}

void FakeClock::Advance(std::chrono::milliseconds span) {
  std::lock_guard<std::mutex> lock(mutex_);
  AdvanceLocked(BoundedWait(span));
}

void FakeClock::SetWall(WallTime t) {
  std::lock_guard<std::mutex> lock(mutex_);
  wall_ = t;
}

void FakeClock::AdvanceLocked(std::chrono::milliseconds span) {
  wall_ += span;
  mono_ += span;
}

int FakeClock::sleep_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sleep_count_;
}

std::chrono::milliseconds FakeClock::total_slept() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return total_slept_;
}

int FakeClock::wait_count() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return wait_count_;
}

std::chrono::milliseconds FakeClock::total_waited() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return total_waited_;
}

}  // namespace snx::platform
