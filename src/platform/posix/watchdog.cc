// WATCHDOG=1 to the service manager, when it asked for it, at most once a quarter of the
// watchdog's time (WATCHDOG_USEC) and never more often than once a second: the loop's waits
// call it at every slice, and a ping each slice would wake the manager for nothing.

#include "platform/watchdog.h"

#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>

#include "platform/posix/notify_socket.h"

namespace snx::platform {
namespace {

// Whether this process was asked for watchdog pings; read from the environment on each call
// (cheap, and a test may set it up after the process started).
bool Wanted() {
  const char* socket = ::getenv("NOTIFY_SOCKET");
  const char* usec = ::getenv("WATCHDOG_USEC");
  if (socket == nullptr || *socket == '\0' || usec == nullptr || *usec == '\0') return false;
  if (const char* pid = ::getenv("WATCHDOG_PID"); pid != nullptr && *pid != '\0') {
    char* end = nullptr;
    const long long wanted = ::strtoll(pid, &end, 10);
    if (end == pid || *end != '\0' || wanted != static_cast<long long>(::getpid())) return false;
  }
  return true;
}

// The least time between two pings, in milliseconds.
std::int64_t PingSpacingMs() {
  const char* usec = ::getenv("WATCHDOG_USEC");
  const long long watchdog = usec != nullptr ? ::strtoll(usec, nullptr, 10) : 0;
  return std::max<std::int64_t>(1000, watchdog / 4000);
}

std::atomic<std::int64_t> g_last_ping_ms{-1};

}  // namespace

void WatchdogPing() {
  using std::chrono::duration_cast;
  using std::chrono::milliseconds;
  const std::int64_t now =
      duration_cast<milliseconds>(std::chrono::steady_clock::now().time_since_epoch()).count();
  std::int64_t last = g_last_ping_ms.load();
  if (last >= 0 && now - last < PingSpacingMs()) return;
  if (!g_last_ping_ms.compare_exchange_strong(last, now)) return;  // another caller pinged
  if (Wanted()) posix::SendNotify("WATCHDOG=1");
}

}  // namespace snx::platform
