// Go mode: the test cycle, the server state, the alerts, the restarts and the reboot.

#include <string>

#include "core/log_writer.h"
#include "files/all_sets.h"
#include "files/log_file.h"
#include "ops/cycle_decision.h"
#include "ops/ops_conf_check.h"
#include "ops/ops_mngr_thread.h"
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/visible_text.h"
#include "platform/watchdog.h"

using snx::metrics::AlertChannel;
using snx::metrics::AlertEvent;

namespace {

constexpr const char* kBanner =
    "XXXXXXX**********************XXXXXXX*************************XXXXXXX";

// The failing program's name in the watcher's text: what stands between the first "(" and the
// first ")" after it; without a "(" the whole text.
std::string NameInWatcherText(std::string_view text) {
  const std::size_t open = text.find('(');
  if (open == std::string_view::npos) return std::string(text);
  const std::size_t close = text.find(')', open + 1);
  return std::string(text.substr(
      open + 1, close == std::string_view::npos ? std::string_view::npos : close - open - 1));
}

}  // namespace

bool COpsMngrThread::GoOn() const {
  return m_pOwner->m_bGo.load() && !KillRequested() && m_iCommand == SNX_GO;
}

std::chrono::milliseconds COpsMngrThread::CycleWait() const {
  return m_Facilities.minute * m_pSettings->m_iMinuteInterval;
}

bool COpsMngrThread::PhoneReady() {
  std::lock_guard lock(m_PhoneMutex);
  return m_Phoner.Status(4);
}

void COpsMngrThread::SaveServerState(std::int32_t state) {
  m_pSettings->m_iLastKnownServerState = state;
  m_pSettings->SaveSettings();
}

void COpsMngrThread::ShowAlertWarnings() {
  const bool phone = m_pSettings->m_bPhoneAlertsReady;
  const bool email = m_pSettings->m_bEmailEnabled;
  if (!phone && !email) {
    SetCurrentAction("Warning Phone AND Email Alerts are disabled", ".");
  } else if (!email) {
    SetCurrentAction("Warning Email Alerts are disabled", ".");
  } else if (!phone) {
    SetCurrentAction("Warning Phone Alerts are disabled", ".");
  }
}

// The start of Go: false when it must return at once.
bool COpsMngrThread::StartGo() {
  m_pOwner->m_bGoLoopRunning = false;
  LogEvent("COpsMngrThread::Go() 1");
  LogEvent("OnBtnGo() m_iLastKnownServerState == " +
           std::to_string(m_pSettings->m_iLastKnownServerState.load()));
  m_pGoFlag = &m_pOwner->m_bGo;
  m_Mender.SetKeepGoingFlag(m_pGoFlag);
  if (!ValidateRequireds(true)) return false;
  LogEvent("COpsMngrThread::Go() 2");
  snx::ops::LogConfigurationProblems(*m_pSettings, m_pOwner->ProgramDirectory());
  if (!m_pOwner->m_bAutoRun) SaveServerState(QOR_SERVER_UP);
  MarkAutoRun();  // from now on any end but an administrator's STOP resumes Go at the next start
  if (m_pSettings->m_bPhoneAlertsReady) {
    LogMessage("Phone Alert is enabled.");
  } else {
    LogMessage("Warning: Phone Alerts are disabled.");
    SetCurrentAction("Warning Phone Alerts are disabled", ".");
  }
  if (m_pSettings->m_bEmailEnabled) {
    LogMessage("Email Alert is enabled.");
  } else {
    LogMessage("Warning: Email Alerts are disabled.");
    SetCurrentAction(m_pSettings->m_bPhoneAlertsReady
                         ? "Warning Email Alerts are disabled"
                         : "Warning Phone AND Email Alerts are disabled",
                     ".");
  }
  LogEvent("COpsMngrThread::Go() 3");
  // A browser is only needed by restart program steps that open a URL, and those fetch the URL
  // themselves when there is none: a server without one is normal.
  LocateInternetExplorer();
  SetCurrentAction("Registering objects", ".");
  m_Mender.RegisterCompanions();
  LogEvent("COpsMngrThread::Go() 4");
  m_bDisablePopups = true;
  if (!SetPopupDisableState()) return false;
  m_pOwner->m_bGo = true;
  m_pOwner->m_iOpsState =
      m_pSettings->m_iLastKnownServerState == QOR_FAILS_DETECTED_SERVER_REBOOTONG
          ? OPS_GO_RESTARTING
          : OPS_GO_IDLE;
  if (m_pSettings->m_iMinuteInterval <= 0) m_pSettings->m_iMinuteInterval = 10;
  SetCurrentAction("Setting up process watcher", ".");
  if (LoadProcPerfs()) {
    m_pWManager->SetLoaded(false);
    SetCurrentAction("Looking at procs in task manager", ".");
    if (!m_pWManager->LWN()) {
      m_pOwner->m_iOpsState = OPS_GO_RESTARTING;
      SetCurrentAction("Found missing program(s)", "Running a Restart.");
      LogEvent("Running a Restart prior to GO loop. 2");
      m_Insurer.BeginPhase();
      ++m_Metrics.m_iRestarts;
      DoRestarter();
      m_Insurer.EndPhase();
    }
  } else {
    LogError("Cannot see Windows processes.");
    m_pOwner->m_bGo = false;
    SetCurrentAction("Process watcher setup failed", ".");
  }
  if (!m_pWManager->Loaded() && !m_pSettings->m_bUseIni) {
    LogEvent("GO(): no PerfKeys and no UseIni. Must be all URLs");
    LogError(m_pWManager->FailureText());
  }
  return true;
}

void COpsMngrThread::Go() {
  if (!StartGo()) return;
  std::int32_t restart_count = 0;
  bool failure_seen = false;
  while (GoOn()) {
    snx::platform::WatchdogPing();
    LogEvent("COpsMngrThread::Go Loop 0");
    TakeUpChangedSettings();
    TakeUpChangedProgram();
    SetCurrentAction("GO MODE: Top of test loop. ", ".");
    m_pOwner->m_bGoLoopRunning = true;
    m_pOwner->m_iOpsState = OPS_GO_IDLE;
    StatusCycleBegins();
    m_Insurer.BeginPhase();
    failure_seen = false;
    m_sRebootWithheld.clear();
    bool local_ok = true;
    m_pOwner->m_iOpsState = OPS_GO_TESTING;
    LogEvent("COpsMngrThread::Go 5");
    bool tested = false;  // a failure of the detection or the local URLs skips to the remote pass
    if (m_pSettings->m_bUseIni) {
      SetCurrentAction("GO MODE", "running Sentinex.INI file ");
      if (!m_Mender.RunDetection(m_pOwner->m_iOpsState, m_pOwner->m_bGo)) {
        failure_seen = true;
        local_ok = false;
        tested = true;
      }
    }
    if (!tested) {
      LogEvent("COpsMngrThread::Go 6");
      m_pOwner->m_iOpsState = OPS_GO_TESTING;
      if (!RunUrls()) {
        local_ok = false;
        failure_seen = true;
        m_pOwner->m_iOpsState = OPS_GO_RESTARTING;
      } else if (m_Mender.WatcherArmed()) {
        LogEvent("COpsMngrThread::Go 7");
        if (m_pSettings->m_bWATCH) {
          SetCurrentAction("Go MODE", "Testing Process Activity");
          m_Mender.XTst();
        }
        local_ok = m_Mender.LastWatcherTest();
        if (local_ok) {
          m_ItemManager.LogProgramsUp("");
          m_ItemManager.LogProgramsBack();  // a program restarted in an earlier cycle runs again
        }
      }
    }
    LogEvent("COpsMngrThread::Go 8");
    HandleRemoteUrls(true);
    const std::int32_t state_at_check = m_pSettings->m_iLastKnownServerState;
    LogEvent("OnBtnGo() 2: m_iLastKnownServerState == " + std::to_string(state_at_check));
    Sleep(100);
    bool rebooting = false;
    if (local_ok) {
      GoodCycle(state_at_check);
      restart_count = 0;
    } else {
      failure_seen = true;
      rebooting = FailedCycle(state_at_check, restart_count);
    }
    FlushWebhooks();  // the restart was made or the reboot asked for: nothing waits on the posts
    m_Metrics.CycleEnded(UnixSecondsOf(m_Facilities.clock));
    PublishMetrics();
    StatusCycleEnds();
    if (rebooting) break;
    LogEvent("COpsMngrThread::Go 11");
    m_Insurer.EndPhase();
    if (!m_pOwner->m_bGo) break;
    ShowAlertWarnings();
    if (m_pSettings->m_bPhoneAlertsReady) {
      std::lock_guard lock(m_PhoneMutex);
      RefreshPhoneStatusLocked();
      if (!m_Phoner.Status(4)) {
        SetCurrentAction("Warning: Phone Alerts did not fully initialize. See Phone log", ".");
      }
    }
    LogEvent("COpsMngrThread::Go 12");
    // While a reboot is withheld the waiting action says so.
    SetCurrentAction("Go MODE: waiting for next test :",
                     m_sRebootWithheld.empty() ? std::string_view(".") : m_sRebootWithheld);
    StatusWaitBegins();
    Sleep(CycleWait().count());
    LogEvent("COpsMngrThread::Go 13");
  }
  LeaveGo(failure_seen);
}

void COpsMngrThread::GoodCycle(std::int32_t state_at_check) {
  LogEvent("COpsMngrThread::Go 9");
  SaveServerState(QOR_SERVER_UP);
  if (m_iRemoteUrlState == REMOTE_URLS_FAILING) {
    m_pOwner->m_iOpsState = OPS_GO_REMOTE_FAILING;
    LogEvent("Detects Failing Remote URL(s) but Local Ops are NORMAL. System is running.");
    SetCurrentAction("Go MODE: Some Remote URL(s) Failed", ".");
  } else {
    m_pOwner->m_iOpsState = OPS_GO_IDLE;
    LogEvent("Detects Local NORMAL. System is running.");
    SetCurrentAction("Go MODE: sleeping.", "Ops are normal.");
  }
  m_Mender.WriteHeartbeatFile();
  m_bDownAlertsSent = false;
  if (state_at_check != QOR_SERVER_UP) {
    if (m_pSettings->m_bPhoneAlertsReady && PhoneReady()) {
      std::lock_guard lock(m_PhoneMutex);
      m_Phoner.SetMessageType(PHONE_MSG_SERVER_UP);
      if (m_Phoner.SendUpMessage()) {
        m_Metrics.CountAlert(AlertChannel::kPhone, AlertEvent::kServerUp);
      }
    }
    const snx::alerts::AlertEvent event = MakeAlertEvent(
        snx::alerts::AlertKind::kUp, "no more restarts; the tests go on at every cycle.");
    if (m_pSettings->m_bEmailEnabled) SendEmails(false, &event);
    QueueWebhooks(event);
  }
  m_iOutageStart.reset();
  m_bWithheldTold = false;
  SaveServerState(QOR_SERVER_UP);
  LogEvent("OnBtnGo() has set m_iLastKnownServerState == QOR_SERVER_UP.");
}

bool COpsMngrThread::FailedCycle(std::int32_t state_at_check, std::int32_t& restart_count) {
  LogEvent("COpsMngrThread::Go 10");
  SetCurrentAction("Go MODE: Local fails.", "Attempting restart.");
  SaveServerState(QOR_FAILS_DETECTED_SERVER_RESTARTING);
  LogEvent("OnBtnGo() has set m_iLastKnownServerState == QOR_FAILS_DETECTED_SERVER_RESTARTING.");
  m_pOwner->m_iOpsState = OPS_GO_RESTARTING;
  if (!m_iOutageStart) m_iOutageStart = UnixSecondsOf(m_Facilities.clock);
  if (m_Mender.WatcherArmed()) {
    CQorStr text;
    m_Mender.GetWatcherText(text);
    const std::string shown = snx::platform::VisibleText(text.View());
    SetCurrentAction("Go MODE: Local failure:", shown);
    const std::string name = NameInWatcherText(text.View());
    LogError("Failure in " + name);
    if (CItem* item = m_ItemManager.GetRefByImageName(ITEM_PROGRAM, name)) {
      bool changed = false;
      const std::string item_name = item->m_sName.ToString();
      m_ItemManager.Update(ITEM_PROGRAM, item_name, ITEM_STATE_DOWN, changed);
      m_ItemManager.LogProgramsUp(name);
    } else {
      LogError("GO(): Does't see " + name + " on the process stack.");
    }
  }
  LogMessage(LogTimeStamp(m_Facilities.clock) + "** Running Soft ReStart");
  LogError(kBanner);
  LogError(kBanner);
  LogError("FAILURE DETECTED. Attempting RESTART........");
  LogError(kBanner);
  LogError(kBanner);
  if (state_at_check == QOR_SERVER_UP && restart_count <= 0) {
    SendDownAlerts(RestartActionText(restart_count));
  }
  m_Insurer.EndPhase();
  bool changed = false;
  if (DecideCycle(false, restart_count, m_pSettings->m_iRestartsB4Reboot) ==
      CycleDecision::kReboot) {
    // A reboot beyond MaxRebootsPerDay is withheld: reported as a reboot would be, then the
    // applications are restarted as in any other failed cycle.
    const bool allowed = RebootAllowed();
    m_ItemManager.Update(ITEM_RESTART, "Restart", ITEM_STATE_DOWN, changed);
    if (allowed) {
      ++m_Metrics.m_iReboots;
      QueueWebhooks(MakeAlertEvent(snx::alerts::AlertKind::kRebootDecided,
                                   "rebooting the machine: the server is still down after " +
                                       std::to_string(restart_count) + " restart(s) in a row."));
      m_Mender.ReBoot();
      return true;
    }
  } else {
    m_ItemManager.Update(ITEM_RESTART, "Restart", ITEM_STATE_UP, changed);
  }
  ++m_Metrics.m_iRestarts;
  m_Insurer.BeginPhase();
  if (m_pSettings->m_bUseIni) m_Mender.RunRestarterOperations();
  DoRestarter();
  ++restart_count;
  return false;
}

void COpsMngrThread::SendDownAlerts(std::string_view action) {
  m_bDownAlertsSent = true;
  if (m_pSettings->m_bPhoneAlertsReady && PhoneReady()) {
    std::lock_guard lock(m_PhoneMutex);
    m_Phoner.SetMessageType(PHONE_MSG_SERVER_DOWN);
    if (m_Phoner.SendDownMessage()) {
      m_Metrics.CountAlert(AlertChannel::kPhone, AlertEvent::kServerDown);
    }
  }
  const snx::alerts::AlertEvent event =
      MakeAlertEvent(snx::alerts::AlertKind::kDown, std::string(action));
  if (m_pSettings->m_bEmailEnabled) SendEmails(true, &event);
  QueueWebhooks(event);
}

void COpsMngrThread::LeaveGo(bool failure_seen) {
  m_pOwner->m_bGoLoopRunning = false;
  m_Insurer.EndPhase();
  SetCurrentAction("Exiting GO MODE: :", ".");
  m_pOwner->m_iOpsState = failure_seen ? OPS_FAILURES_SEEN : OPS_STOPPED;
  PublishMetrics();
  StatusGoEnds();
  m_bDisablePopups = false;
  SetPopupDisableState();
  LogEvent("COpsMngrThread::Go(): Testing has STOPPED.");
}

bool COpsMngrThread::SendEmails(bool down, const snx::alerts::AlertEvent* event) {
  if (!m_pOwner->m_bGo) return true;
  if (!m_Emailer.SendAlertEmail(down, event)) {
    LogError("ERROR: Cannot send Email Alerts!");
    LogError("Is Internet Connection active?");
    LogError("Is Browser set to 'Work Offline'?");
    LogError("COpsMngrThread::SendEmails() failed");
    return false;
  }
  m_Metrics.CountAlert(AlertChannel::kEmail,
                       down ? AlertEvent::kServerDown : AlertEvent::kServerUp);
  return true;
}

void COpsMngrThread::PublishMetrics() {
  m_Metrics.Write(snx::platform::Files(), m_Facilities.metrics_file, m_pOwner->m_iOpsState);
}
