#pragma once
// CSNXSVR: the command object, the only door into the running service. On creation it sets up
// the install folder as the current folder, the process-wide log, the settings and the thread
// owner; afterwards each command only sets flags on the thread owner and fires its command
// event, and the operations thread picks the command up. Its destruction is the teardown: the
// operations thread is stopped and joined before the settings and the log go.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "files/all_sets.h"
#include "files/log_file.h"
#include "files/ram_file_ro.h"
#include "ops/ops_facilities.h"
#include "service/isnxsvr.h"
#include "service/thread_owner.h"

class CSNXSVR : public ISNXSVR {
 public:
  // `program_directory`: the install folder (a POSIX path ending in "/").
  CSNXSVR(const COpsFacilities& facilities, std::string_view program_directory);
  CSNXSVR(const CSNXSVR&) = delete;
  CSNXSVR& operator=(const CSNXSVR&) = delete;
  ~CSNXSVR() override;

  // The final step of creation: initialize, then Go at once when the operations thread found
  // the AutoRun mark of a reboot this system made.
  void FinalConstruct();

  snx::platform::HRESULT OpsCommand(const snx::platform::VARIANT* pvCommand,
                                    std::int32_t* plngResult) override;
  snx::platform::HRESULT GetStringResult(const std::int32_t* plngCommand,
                                         snx::platform::VARIANT* pvResult) override;
  std::optional<COpsStatus> GetStatus() override;

  bool Initialize();
  CThreadOwner* ThreadOwner() { return m_pThreadOwner.get(); }

  // The start banner's product and contact lines.
  static constexpr const char* kProductLines[3] = {
      "SNXSVC server watchdog", "watches local and remote URLs and program activity",
      "restarts the server's applications, alerts by e-mail and phone"};
  static constexpr const char* kContactLine = "see docs/service.md of the SNXSVC distribution";

 private:
  bool PrepareLog();
  void WriteBanner();
  std::int32_t TakeCommand(std::int32_t code);

  COpsFacilities m_Facilities;
  std::string m_sProgramDirectory;
  std::unique_ptr<CThreadOwner> m_pThreadOwner;
  std::unique_ptr<CRamFileRO> m_pRamFile;
  CAllSets m_Settings;
  std::unique_ptr<CLogFile> m_pOwnLog;  // the process-wide log when this object made it
  bool m_bInitialized = false;
};
