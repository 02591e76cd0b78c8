#include "platform/manual_reset_event.h"

#include "platform/clock.h"

namespace snx::platform {

void ManualResetEvent::Set() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    set_ = true;
  }
  cv_.notify_all();
}

void ManualResetEvent::Reset() {
  std::lock_guard<std::mutex> lock(mutex_);
  set_ = false;
}

bool ManualResetEvent::IsSet() {
  std::lock_guard<std::mutex> lock(mutex_);
  return set_;
}

bool ManualResetEvent::Wait(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  if (set_) return true;
  if (timeout < std::chrono::milliseconds::zero()) timeout = std::chrono::milliseconds::zero();
  return Use<Clock>().WaitFor(cv_, lock, timeout, [this] { return set_; });
}

}  // namespace snx::platform
