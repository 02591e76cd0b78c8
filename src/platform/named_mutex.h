#pragma once
// A mutex shared by every thread and process that opens the same name. It is re-entrant for the
// holding thread, waits at most a given time, and a holder that died counts as released.

#include <chrono>
#include <memory>
#include <string_view>

namespace snx::platform {

enum class LockResult { kAcquired, kAbandoned, kTimedOut, kFailed };

class NamedMutex {
 public:
  virtual ~NamedMutex() = default;
  virtual LockResult Lock(std::chrono::milliseconds timeout) = 0;
  virtual void Unlock() = 0;
};

// Opens (creating when needed) the mutex of that name. The lock file lives in RuntimeDir();
// where it cannot be made, the mutex still serialises the threads of this process.
std::unique_ptr<NamedMutex> OpenNamedMutex(std::string_view name);

}  // namespace snx::platform
