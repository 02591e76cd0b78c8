#pragma once
// Rebooting the machine. The real facility needs root or CAP_SYS_BOOT, asks systemd for a
// forced reboot and falls back to reboot(2). With SNX_POWER=record (tests, the demo) it never
// reboots: it appends each request as one line to $SNX_ROOT/run/snxsvc/reboot-requests and
// writes it to the debug sink.

#include <memory>
#include <string>
#include <string_view>

#include "platform/installed.h"

namespace snx::platform {

class Power {
 public:
  virtual ~Power() = default;
  // Whether this process may reboot the machine (always true when recording).
  virtual bool HasRebootPrivilege() = 0;
  // Asks for a forced reboot now. True when the request was made (recorded); a real reboot
  // that succeeds does not return.
  virtual bool ForceReboot(std::string_view reason) = 0;
};

template <>
Power& DefaultFacility<Power>();

// The recording power facility, whatever SNX_POWER says.
std::unique_ptr<Power> NewRecordingPower();
// True when SNX_POWER is "record" (any case).
bool PowerIsRecording();
// $SNX_ROOT/run/snxsvc/reboot-requests
std::string RebootRequestsPath();

}  // namespace snx::platform
