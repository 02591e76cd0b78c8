#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include "platform/clock.h"
#include "platform/debug_sink.h"
#include "platform/fake/fake_clock.h"
#include "platform/manual_reset_event.h"
#include "platform/power.h"
#include "platform/watchdog.h"
#include "support/test_support.h"

namespace snx::platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::minutes;
using std::chrono::seconds;

TEST(OleDateTest, CountsDaysFromTheEndOf1899) {
  EXPECT_DOUBLE_EQ(ToOleDate(FakeClock::FromUtc(1899, 12, 31, 6)), 1.25);
  EXPECT_DOUBLE_EQ(ToOleDate(FakeClock::FromUtc(2024, 3, 1, 12)), 45352.5);  // after a leap day
  EXPECT_NEAR(ToOleDate(FakeClock::FromUtc(2026, 1, 1, 0, 0, 1)) -
                  ToOleDate(FakeClock::FromUtc(2026, 1, 1)),
              1.0 / 86400.0, 1e-9);
}

TEST(RealClockTest, WaitEndsOnTimeoutOrWhenReadyEvenWithoutABound) {
  Clock& clock = DefaultFacility<Clock>();
  std::mutex m;
  std::condition_variable cv;
  bool ready = false;
  std::unique_lock<std::mutex> lock(m);
  EXPECT_FALSE(clock.WaitFor(cv, lock, milliseconds(5), [] { return false; }));
  EXPECT_FALSE(clock.WaitFor(cv, lock, milliseconds(-5), [] { return false; }));
  std::thread setter([&] {  // takes the lock only once the wait below gives it up
    std::this_thread::sleep_for(milliseconds(20));
    std::lock_guard<std::mutex> guard(m);
    ready = true;
    cv.notify_all();
  });
  // An "infinite" time-out must not overflow into no wait at all.
  EXPECT_TRUE(clock.WaitFor(cv, lock, milliseconds::max(), [&] { return ready; }));
  lock.unlock();
  setter.join();
}

TEST(ManualResetEventTest, StaysSetUntilResetAndWaitsThroughTheInstalledClock) {
  FakeClock clock;
  ScopedInstall<Clock> installed(clock);
  ManualResetEvent event;
  const auto mono0 = clock.MonoNow();
  EXPECT_FALSE(event.Wait(minutes(5)));
  EXPECT_EQ(clock.MonoNow() - mono0, minutes(5));
  event.Set();
  EXPECT_TRUE(event.Wait(minutes(5)));
  EXPECT_TRUE(event.Wait(minutes(5)));  // a wait does not consume it
  EXPECT_EQ(clock.MonoNow() - mono0, minutes(5));
  event.Reset();
  EXPECT_FALSE(event.Wait(milliseconds(1)));
}

TEST(ManualResetEventTest, WakesEveryWaiterAtOnce) {
  ManualResetEvent event;
  std::vector<std::thread> waiters;
  for (int i = 0; i < 3; ++i) waiters.emplace_back([&] { EXPECT_TRUE(event.Wait(seconds(40))); });
  std::this_thread::sleep_for(milliseconds(10));
  const auto start = std::chrono::steady_clock::now();
  event.Set();
  for (auto& t : waiters) t.join();
  // A waiter left asleep would see the event only at its time-out.
  EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(20));
}

TEST(PowerTest, RecordingAppendsEachRequestUnderTheStateRoot) {
  test::TempDir root;
  test::ScopedEnv env_root("SNX_ROOT", root.path().c_str());
  test::ScopedEnv env_power("SNX_POWER", "Record");
  ASSERT_TRUE(PowerIsRecording());
  Power& power = DefaultFacility<Power>();
  EXPECT_TRUE(power.HasRebootPrivilege());
  EXPECT_TRUE(power.ForceReboot("restarts failed") &&
              power.ForceReboot("again\nwith a line break"));
  const std::string text = root.Read("run/snxsvc/reboot-requests");
  EXPECT_NE(text.find("reboot requested: restarts failed\n"), std::string::npos) << text;
  EXPECT_NE(text.find("reboot requested: again\\nwith a line break\n"), std::string::npos)
      << "one line per request: " << text;
}

// What `write` sends to fd 2.
std::string StderrOf(const std::function<void()>& write) {
  testing::internal::CaptureStderr();
  write();
  return testing::internal::GetCapturedStderr();
}

TEST(DebugSinkTest, WritesLinesToStderrOnlyWhenSnxDebugIsSet) {
  const auto write = [] {
    DefaultFacility<DebugSink>().Write("thread started");
    DefaultFacility<DebugSink>().Write("ends with newline\n");
  };
  for (const char* off : {static_cast<const char*>(nullptr), ""}) {
    test::ScopedEnv env("SNX_DEBUG", off);
    EXPECT_EQ(StderrOf(write), "");
  }
  test::ScopedEnv env("SNX_DEBUG", "1");
  EXPECT_EQ(StderrOf(write), "thread started\nends with newline\n");
}

// The watchdog ping: the loop's waits call it at every slice, and the service manager hears
// from it only when a ping is due (a quarter of WATCHDOG_USEC apart).
TEST(WatchdogPing, CallsWithinAQuarterOfTheWatchdogSendOnePing) {
  test::TempDir dir;
  const std::string path = dir.File("notify");
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  test::ScopedEnv socket_env("NOTIFY_SOCKET", path.c_str());
  test::ScopedEnv watchdog_env("WATCHDOG_USEC", "180000000");
  test::ScopedEnv pid_env("WATCHDOG_PID", nullptr);

  // Two slices more than a second apart, well within a quarter of the 180 s watchdog.
  WatchdogPing();
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  WatchdogPing();

  int pings = 0;
  char buffer[256];
  for (ssize_t n; (n = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0;) {
    EXPECT_EQ(std::string(buffer, static_cast<std::size_t>(n)), "WATCHDOG=1");
    ++pings;
  }
  ::close(fd);
  EXPECT_EQ(pings, 1);
}

}  // namespace
}  // namespace snx::platform
