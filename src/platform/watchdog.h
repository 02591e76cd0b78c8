#pragma once
// The service manager's watchdog (systemd's WatchdogSec=): the operations loop tells it that it
// still turns by sending "WATCHDOG=1" from its own waits and checks. A loop that hangs stops
// sending, and the service manager kills and restarts the service.
//
// WatchdogPing sends only when the service manager asked for it (NOTIFY_SOCKET and
// WATCHDOG_USEC are set, and WATCHDOG_PID, when set, names this process), and at most once a
// second however often it is called; otherwise it does nothing. Any thread may call it, but
// only the operations thread does: a separate timer would go on pinging for a hung loop.

namespace snx::platform {

void WatchdogPing();

}  // namespace snx::platform
