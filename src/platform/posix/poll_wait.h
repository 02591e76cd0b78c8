#pragma once
// Waiting on one socket with a bound, for the mail transport and its TLS layer.

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>

#include "platform/clock.h"

namespace snx::platform {

// Milliseconds for poll(): at least 0, at most a day.
inline int PollSpan(std::chrono::milliseconds timeout) {
  const auto ms = BoundedWait(timeout).count();
  return static_cast<int>(std::min<long long>(ms, 86400000LL));
}

// Waits for `events` on `fd` until `until`; 1 ready, 0 timed out, -1 error (errno set).
inline int WaitUntil(int fd, short events, std::chrono::steady_clock::time_point until) {
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        until - std::chrono::steady_clock::now());
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, PollSpan(left));
    if (n >= 0) return n > 0 ? 1 : 0;
    if (errno != EINTR) return -1;
  }
}

// Waits for `events` on `fd`; 1 ready, 0 timed out, -1 error (errno set).
inline int WaitFor(int fd, short events, std::chrono::milliseconds timeout) {
  return WaitUntil(fd, events, std::chrono::steady_clock::now() + BoundedWait(timeout));
}

}  // namespace snx::platform
