#pragma once
// The one place that wires the real facilities: the clock, the launcher (with this install
// folder for Regsvr32 and IISRESET), the power facility (SNX_POWER=record only records), the
// key store, the component factory, the mail transport and the length of a minute
// (SNX_MINUTE_SECONDS). The service and snxctl's commands that run the engine use it alike.
// The HTTP client and the process list are the installed ones the probes reach themselves.

#include <memory>
#include <string>
#include <string_view>

#include "ops/ops_facilities.h"
#include "platform/launcher.h"

class CServiceWiring {
 public:
  // `install_folder`: a POSIX path; "" = the executable's folder.
  explicit CServiceWiring(std::string_view install_folder);
  CServiceWiring(const CServiceWiring&) = delete;
  CServiceWiring& operator=(const CServiceWiring&) = delete;

  const COpsFacilities& Facilities() const { return m_Facilities; }
  snx::platform::Launcher& Launcher() { return *m_pLauncher; }

 private:
  std::unique_ptr<snx::platform::Launcher> m_pLauncher;
  COpsFacilities m_Facilities;
};
