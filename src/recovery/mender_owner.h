#pragma once
// What the restart engine needs of the thread owner: the operations state it sets while a
// detection run starts, the pending command of the operations thread (a STOP cuts its sleeps
// short) and the kill request. The owner keeps these in atomics; the engine reads them between
// sleeps, from the operations thread.

#include <cstdint>

#include "platform/watchdog.h"

class CMenderOwner {
 public:
  static constexpr std::int32_t kStopCommand = 1003;   // SNX_STOP
  static constexpr std::int32_t kOpsGoTesting = 1002;  // OPS_GO_TESTING

  virtual void SetOpsState(std::int32_t state) = 0;
  // The command code the operations thread has pending (1000, 1001 or 1003).
  virtual std::int32_t PendingCommand() const = 0;
  virtual bool KillRequested() const = 0;

  // A STOP is pending or the owner asks the thread to end. Every bounded wait of the loop asks
  // this at each slice (sleeps, child waits, mail and call waits): the loop's life sign to the
  // service manager's watchdog goes with it.
  bool StopOrKill() const {
    snx::platform::WatchdogPing();
    return PendingCommand() == kStopCommand || KillRequested();
  }

 protected:
  ~CMenderOwner() = default;
};
