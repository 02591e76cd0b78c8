#pragma once
// A manual-reset event: once set it stays set until Reset. Waits go through the Clock.

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace snx::platform {

class ManualResetEvent {
 public:
  void Set();
  void Reset();
  bool IsSet();
  // True when the event is set before `timeout` has passed.
  bool Wait(std::chrono::milliseconds timeout);

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool set_ = false;
};

}  // namespace snx::platform
