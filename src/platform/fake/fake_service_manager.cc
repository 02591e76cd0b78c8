#include "platform/fake/fake_service_manager.h"

namespace snx::platform {

bool FakeServiceManager::Notify(std::string_view state) {
  std::lock_guard<std::mutex> lock(mutex_);
  notifications_.emplace_back(state);
  return started_by_manager;
}

void FakeServiceManager::LogEvent(std::string_view text) {
  std::lock_guard<std::mutex> lock(mutex_);
  events_.emplace_back(text);
}

bool FakeServiceManager::Reload() {
  ++reloads;
  return true;
}

bool FakeServiceManager::StopUnit(std::string_view unit) {
  stopped_units.emplace_back(unit);
  return true;
}

bool FakeServiceManager::WaitForStop(std::chrono::milliseconds wait) {
  std::unique_lock<std::mutex> lock(mutex_);
  return cv_.wait_for(lock, wait, [this] { return stop_; });
}

void FakeServiceManager::RaiseStop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
}

std::vector<std::string> FakeServiceManager::Notifications() {
  std::lock_guard<std::mutex> lock(mutex_);
  return notifications_;
}

std::vector<std::string> FakeServiceManager::Events() {
  std::lock_guard<std::mutex> lock(mutex_);
  return events_;
}

}  // namespace snx::platform
