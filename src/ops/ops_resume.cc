// AutoRun: the service resumes Go mode by itself at its next start when Go mode was running when
// it ended, whatever ended it (its own reboot decision, anyone's reboot, a crash, a restart by
// the service manager, an upgrade). Only an administrator's STOP turns it off.

#include <string>

#include "core/log_writer.h"
#include "files/all_sets.h"
#include "ops/ops_mngr_thread.h"
#include "platform/key_store.h"

using snx::platform::HKEY;
using snx::platform::RegResult;
using snx::platform::RegType;
using snx::platform::RegValue;

void COpsMngrThread::MarkAutoRun() {
  if (m_Mender.SetAutoRunStatus(true)) m_bAutoRunMarked = true;
}

void COpsMngrThread::TakeAdminStop() {
  if (!m_pOwner->m_bAdminStop.exchange(false)) return;
  m_bAutoStart = false;
  m_pOwner->m_bAutoRun = false;
  m_bAutoRunMarked = false;
  m_Mender.SetAutoRunStatus(false);
  LogMessage(
      "AutoRun is off: an administrator stopped GO mode, so the service stays idle when it "
      "starts again.");
}

void COpsMngrThread::NoteServiceEnd() {
  // A reboot decision recorded its own end; the stop of the shutdown that follows it is not news.
  if (m_bAutoRunMarked && !m_bRebootDecided) m_Mender.SetLastEnd(CMender::kEndStopped);
}

bool COpsMngrThread::ReadResumeReason() {
  snx::platform::KeyStore& keys = m_Facilities.keys;
  HKEY key = nullptr;
  std::string end;
  if (keys.OpenKey(snx::platform::HKEY_LOCAL_MACHINE, kAutoRunKey, key) == RegResult::kOk) {
    RegValue value;
    if (keys.QueryValue(key, CMender::kLastEndValue, value) == RegResult::kOk &&
        value.type == RegType::kString) {
      end = value.text;
    }
    keys.CloseKey(key);
  }
  const bool after_reboot = end == CMender::kEndReboot;
  if (after_reboot) {
    m_sResumeReason = "the watchdog rebooted the machine after restarts kept failing";
  } else if (end == CMender::kEndStopped) {
    m_sResumeReason =
        "GO mode was running when the system stopped the service (a shutdown, a restart or an "
        "upgrade)";
  } else {
    m_sResumeReason =
        "GO mode was running when the service ended without a stop (a crash, a kill or the "
        "watchdog)";
  }
  // From here the service runs again: an end without a stop is told as such next time.
  m_Mender.SetLastEnd(CMender::kEndRunning);
  LogMessage("Resuming GO mode by itself: " + m_sResumeReason + ".");
  return after_reboot;
}
