// The reboot storm guard of Go mode: at most MaxRebootsPerDay automatic reboots within 24
// hours. A reboot decided beyond the cap is withheld: the loop goes on restarting at its normal
// pace, and the people on the alert lists hear of it once.

#include <string>

#include "core/log_writer.h"
#include "files/all_sets.h"
#include "ops/ops_mngr_thread.h"

void COpsMngrThread::LoadRebootRecord() {
  m_iRebootCap = m_pSettings != nullptr ? m_pSettings->m_iMaxRebootsPerDay : 0;
  std::string why;
  switch (m_RebootRecord.Load(&why)) {
    case CRebootRecord::LoadResult::kOk:
      LogEvent("COpsMngrThread::LoadRebootRecord() " +
               std::to_string(m_RebootRecord.CountInWindow()) +
               " automatic reboot(s) in the last 24 hours.");
      break;
    case CRebootRecord::LoadResult::kMissing:
      // Usual until the first reboot: worth a word only while the guard is on.
      if (m_iRebootCap > 0) {
        LogMessage("Warning: no reboot record (" + why + "): counting no automatic reboots.");
      }
      break;
    case CRebootRecord::LoadResult::kDamaged:
      LogMessage("Warning: the reboot record is damaged (" + why +
                 "): counting no automatic reboots.");
      break;
  }
}

void COpsMngrThread::RecordReboot() {
  std::string why;
  if (!m_RebootRecord.Add(&why)) {
    LogError("Cannot write the reboot record: " + why);
  }
}

bool COpsMngrThread::RebootAllowed() {
  const std::int32_t cap = m_pSettings->m_iMaxRebootsPerDay;
  m_iRebootCap = cap;
  if (cap <= 0) return true;
  const std::int32_t count = m_RebootRecord.CountInWindow();
  if (count < cap) return true;
  ++m_iRebootsWithheldTotal;
  ++m_Metrics.m_iRebootsWithheld;
  m_sRebootWithheld = "Reboot withheld: " + std::to_string(count) +
                      " automatic reboot(s) in the last 24 hours, MaxRebootsPerDay is " +
                      std::to_string(cap) + ".";
  LogError(m_sRebootWithheld);
  SetCurrentAction("Go MODE: Reboot withheld.", m_sRebootWithheld);
  const std::string action = m_sRebootWithheld + " The applications are restarted instead.";
  if (!m_bDownAlertsSent) SendDownAlerts(action);
  if (!m_bWithheldTold) {
    m_bWithheldTold = true;
    QueueWebhooks(MakeAlertEvent(snx::alerts::AlertKind::kRebootWithheld, action));
  }
  return false;
}

std::string COpsMngrThread::RebootGuardSummary() {
  return std::to_string(m_RebootRecord.CountInWindow()) + " " + std::to_string(m_iRebootCap) + " " +
         std::to_string(m_iRebootsWithheldTotal);
}
