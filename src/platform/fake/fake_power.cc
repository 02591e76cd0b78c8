#include "platform/fake/fake_power.h"

namespace snx::platform {

std::vector<std::string> FakePower::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

bool FakePower::ForceReboot(std::string_view reason) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (failing_) return false;
  requests_.emplace_back(reason);
  return true;
}

}  // namespace snx::platform
