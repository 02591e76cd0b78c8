#pragma once
// What the service process needs of the init system (systemd) and of the system log:
// status reports through sd_notify, the event source "SNXSVC", reloading the unit files after
// the service's unit was written or removed, stopping the installed service, and the stop
// control (SIGTERM, and SIGINT in the foreground).

#include <chrono>
#include <string>
#include <string_view>

namespace snx::platform {

class ServiceManager {
 public:
  virtual ~ServiceManager() = default;

  // True when the process was started by the service manager as a notify service (it gave us
  // a NOTIFY_SOCKET).
  virtual bool StartedByServiceManager() = 0;
  // One sd_notify datagram ("READY=1", "STOPPING=1", "STATUS=..."). False when there is no
  // service manager to tell or it could not be told.
  virtual bool Notify(std::string_view state) = 0;
  // One information event of the source "SNXSVC" in the system log.
  virtual void LogEvent(std::string_view text) = 0;
  // True when unit files under `root` are the ones the running service manager reads (root is
  // "/" and systemd runs); only then are Reload and StopUnit asked of it.
  virtual bool ManagesRoot(std::string_view root) = 0;
  virtual bool Reload() = 0;                         // systemctl daemon-reload
  virtual bool StopUnit(std::string_view unit) = 0;  // systemctl stop UNIT

  // The stop control: after InstallStopSignals, SIGTERM and SIGINT (and RaiseStop) make
  // WaitForStop return true; it returns false when `wait` passed without one.
  virtual void InstallStopSignals() = 0;
  virtual bool WaitForStop(std::chrono::milliseconds wait) = 0;
  virtual void RaiseStop() = 0;
};

ServiceManager& SystemServiceManager();

}  // namespace snx::platform
