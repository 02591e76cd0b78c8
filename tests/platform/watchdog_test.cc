// The watchdog ping: the loop's waits call it at every slice, and the service manager hears
// from it only when a ping is due (a quarter of WATCHDOG_USEC apart).

#include "platform/watchdog.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "support/test_support.h"

namespace {

TEST(WatchdogPing, CallsWithinAQuarterOfTheWatchdogSendOnePing) {
  snx::test::TempDir dir;
  const std::string path = dir.File("notify");
  const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
  ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  snx::test::ScopedEnv socket_env("NOTIFY_SOCKET", path.c_str());
  snx::test::ScopedEnv watchdog_env("WATCHDOG_USEC", "180000000");
  snx::test::ScopedEnv pid_env("WATCHDOG_PID", nullptr);

  // Two slices more than a second apart, well within a quarter of the 180 s watchdog.
  snx::platform::WatchdogPing();
  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  snx::platform::WatchdogPing();

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
