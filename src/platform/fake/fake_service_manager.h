#pragma once
// A service manager for tests: keeps every notification and event, counts reloads and stops,
// and raises the stop control when a test asks.

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "platform/service_manager.h"

namespace snx::platform {

class FakeServiceManager : public ServiceManager {
 public:
  bool started_by_manager = false;
  bool manages_root = false;

  bool StartedByServiceManager() override { return started_by_manager; }
  bool Notify(std::string_view state) override;
  void LogEvent(std::string_view text) override;
  bool ManagesRoot(std::string_view) override { return manages_root; }
  bool Reload() override;
  bool StopUnit(std::string_view unit) override;
  void InstallStopSignals() override {}
  bool WaitForStop(std::chrono::milliseconds wait) override;
  void RaiseStop() override;

  std::vector<std::string> Notifications();
  std::vector<std::string> Events();
  int reloads = 0;
  std::vector<std::string> stopped_units;

 private:
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
  std::vector<std::string> notifications_;
  std::vector<std::string> events_;
};

}  // namespace snx::platform
