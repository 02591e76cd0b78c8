#pragma once
// A power facility for tests: records reboot requests; never reboots.

#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/power.h"

namespace snx::platform {

class FakePower : public Power {
 public:
  void SetPrivilege(bool has) { privilege_ = has; }
  // Makes ForceReboot answer false (the request could not be made).
  void SetFailing(bool failing) { failing_ = failing; }
  std::vector<std::string> Requests() const;

  bool HasRebootPrivilege() override { return privilege_; }
  bool ForceReboot(std::string_view reason) override;

 private:
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  bool privilege_ = true;
  bool failing_ = false;
};

}  // namespace snx::platform
