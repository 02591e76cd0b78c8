#include "platform/clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "platform/fake/fake_clock.h"
#include "platform/manual_reset_event.h"

namespace snx::platform {
namespace {

using std::chrono::hours;
using std::chrono::milliseconds;
using std::chrono::minutes;
using std::chrono::seconds;

TEST(OleDateTest, CountsDaysFromTheEndOf1899) {
  EXPECT_DOUBLE_EQ(ToOleDate(FakeClock::FromUtc(1899, 12, 30)), 0.0);
  EXPECT_DOUBLE_EQ(ToOleDate(FakeClock::FromUtc(1899, 12, 31, 6)), 1.25);
  EXPECT_DOUBLE_EQ(ToOleDate(FakeClock::FromUtc(1970, 1, 1)), 25569.0);
  EXPECT_DOUBLE_EQ(ToOleDate(FakeClock::FromUtc(2000, 1, 1, 12)), 36526.5);
  // Leap day of 2024 and the day after: exactly one day apart.
  EXPECT_DOUBLE_EQ(
      ToOleDate(FakeClock::FromUtc(2024, 3, 1)) - ToOleDate(FakeClock::FromUtc(2024, 2, 29)), 1.0);
  EXPECT_NEAR(ToOleDate(FakeClock::FromUtc(2026, 1, 1, 0, 0, 1)) -
                  ToOleDate(FakeClock::FromUtc(2026, 1, 1)),
              1.0 / 86400.0, 1e-9);
}

TEST(FakeClockTest, LongSleepCostsNoRealTime) {
  FakeClock clock;
  const auto wall0 = clock.WallNow();
  const auto mono0 = clock.MonoNow();
  const auto real0 = std::chrono::steady_clock::now();
  clock.SleepFor(minutes(10));
  clock.SleepFor(minutes(10));
  // Generous: a real ten-minute sleep would blow far past it.
  EXPECT_LT(std::chrono::steady_clock::now() - real0, seconds(30));
  EXPECT_EQ(clock.WallNow() - wall0, minutes(20));
  EXPECT_EQ(clock.MonoNow() - mono0, minutes(20));
  EXPECT_EQ(clock.sleep_count(), 2);
  EXPECT_EQ(clock.total_slept(), minutes(20));
}

TEST(FakeClockTest, WaitForMovesTimeOnByTheTimeoutWhenNothingHappens) {
  FakeClock clock;
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock<std::mutex> lock(m);
  const auto mono0 = clock.MonoNow();
  EXPECT_FALSE(clock.WaitFor(cv, lock, seconds(300), [] { return false; }));
  EXPECT_EQ(clock.MonoNow() - mono0, seconds(300));
  EXPECT_EQ(clock.wait_count(), 1);
  // Already ready: no waiting, no time passes.
  EXPECT_TRUE(clock.WaitFor(cv, lock, seconds(300), [] { return true; }));
  EXPECT_EQ(clock.MonoNow() - mono0, seconds(300));
  EXPECT_EQ(clock.wait_count(), 1);
  EXPECT_TRUE(lock.owns_lock());
}

TEST(FakeClockTest, WaitSeesAnotherThreadMakeItReady) {
  FakeClock clock;
  std::mutex m;
  std::condition_variable cv;
  bool ready = false;
  std::thread setter([&] {
    std::this_thread::sleep_for(milliseconds(20));
    {
      std::lock_guard<std::mutex> guard(m);
      ready = true;
    }
    cv.notify_all();
  });
  std::unique_lock<std::mutex> lock(m);
  bool seen = false;
  // Each fake wait gives the setter a real millisecond; bounded by the loop count.
  for (int i = 0; i < 10000 && !seen; ++i) {
    seen = clock.WaitFor(cv, lock, minutes(10), [&] { return ready; });
  }
  lock.unlock();
  setter.join();
  EXPECT_TRUE(seen);
}

TEST(FakeClockTest, CalendarReadsWallTimeAsUtc) {
  FakeClock clock(FakeClock::FromUtc(2024, 2, 29, 23, 59, 58));
  clock.SleepFor(seconds(3));
  const LocalTime t = clock.ToLocal(clock.WallNow());
  EXPECT_EQ(t.year, 2024);
  EXPECT_EQ(t.month, 3);
  EXPECT_EQ(t.day, 1);
  EXPECT_EQ(t.hour, 0);
  EXPECT_EQ(t.minute, 0);
  EXPECT_EQ(t.second, 1);
  // Setting the wall clock leaves monotonic time alone.
  const auto mono = clock.MonoNow();
  clock.SetWall(FakeClock::FromUtc(2020, 1, 1));
  EXPECT_EQ(clock.ToLocal(clock.WallNow()).year, 2020);
  EXPECT_EQ(clock.MonoNow(), mono);
}

TEST(RealClockTest, WaitEndsOnTimeoutOrWhenReady) {
  Clock& clock = DefaultFacility<Clock>();
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock<std::mutex> lock(m);
  EXPECT_FALSE(clock.WaitFor(cv, lock, milliseconds(5), [] { return false; }));
  EXPECT_FALSE(clock.WaitFor(cv, lock, milliseconds(-5), [] { return false; }));
  lock.unlock();

  bool ready = false;
  std::thread setter([&] {
    std::this_thread::sleep_for(milliseconds(10));
    {
      std::lock_guard<std::mutex> guard(m);
      ready = true;
    }
    cv.notify_all();
  });
  lock.lock();
  EXPECT_TRUE(clock.WaitFor(cv, lock, seconds(30), [&] { return ready; }));
  lock.unlock();
  setter.join();
}

TEST(ManualResetEventTest, StaysSetUntilReset) {
  ManualResetEvent event;
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(milliseconds(1)));
  event.Set();
  EXPECT_TRUE(event.Wait(milliseconds(0)));
  EXPECT_TRUE(event.Wait(milliseconds(0)));  // a wait does not consume it
  EXPECT_TRUE(event.IsSet());
  event.Reset();
  EXPECT_FALSE(event.IsSet());
  EXPECT_FALSE(event.Wait(milliseconds(1)));
}

TEST(ManualResetEventTest, WakesEveryWaiter) {
  ManualResetEvent event;
  std::atomic<int> woken{0};
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) {
    waiters.emplace_back([&] {
      if (event.Wait(seconds(30))) ++woken;
    });
  }
  std::this_thread::sleep_for(milliseconds(10));
  event.Set();
  for (auto& t : waiters) t.join();
  EXPECT_EQ(woken.load(), 3);
}

TEST(ManualResetEventTest, WaitsThroughTheInstalledClock) {
  FakeClock clock;
  ScopedInstall<Clock> installed(clock);
  ManualResetEvent event;
  const auto mono0 = clock.MonoNow();
  EXPECT_FALSE(event.Wait(minutes(5)));
  EXPECT_EQ(clock.MonoNow() - mono0, minutes(5));
  event.Set();
  EXPECT_TRUE(event.Wait(minutes(5)));
  EXPECT_EQ(clock.MonoNow() - mono0, minutes(5));
}

}  // namespace
}  // namespace snx::platform
