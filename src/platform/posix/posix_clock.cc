// The real clock: the system's wall clock, the steady clock, and real sleeps and waits.

#include <time.h>

#include <thread>

#include "platform/clock.h"
#include "platform/no_destructor.h"

namespace snx::platform {
namespace {

class PosixClock : public Clock {
 public:
  WallTime WallNow() override { return std::chrono::system_clock::now(); }
  MonoTime MonoNow() override { return std::chrono::steady_clock::now(); }

  void SleepFor(std::chrono::milliseconds span) override {
    std::this_thread::sleep_for(BoundedWait(span));
  }

  LocalTime ToLocal(WallTime t) override {
    const time_t seconds = std::chrono::system_clock::to_time_t(t);
    struct tm parts {};
    LocalTime out;
    if (localtime_r(&seconds, &parts) == nullptr) return out;
    out.year = parts.tm_year + 1900;
    out.month = parts.tm_mon + 1;
    out.day = parts.tm_mday;
    out.hour = parts.tm_hour;
    out.minute = parts.tm_min;
    out.second = parts.tm_sec;
    out.utc_offset_minutes = static_cast<int>(parts.tm_gmtoff / 60);
    return out;
  }

  bool WaitFor(std::condition_variable& cv, std::unique_lock<std::mutex>& lock,
               std::chrono::milliseconds timeout, const std::function<bool()>& ready) override {
    return cv.wait_for(lock, BoundedWait(timeout), ready);
  }
};

}  // namespace

template <>
Clock& DefaultFacility<Clock>() {
  static NoDestructor<PosixClock> clock;
  return *clock.get();
}

}  // namespace snx::platform
