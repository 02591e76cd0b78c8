#pragma once
// One sd_notify datagram ("READY=1", "WATCHDOG=1", ...) written to $NOTIFY_SOCKET directly.

#include <string_view>

namespace snx::platform::posix {

// False when NOTIFY_SOCKET is unset or empty, or the datagram could not be sent.
bool SendNotify(std::string_view state);

}  // namespace snx::platform::posix
