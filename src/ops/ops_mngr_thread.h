#pragma once
// COpsMngrThread: the one worker thread that does all the watching and mending. Its owner
// creates it, then runs InitInstance on a thread of its own: start-up (Initialize), the
// command wait (KeepAlive, with the automatic start into Go mode after a reboot made by this
// system), and the end (ExitInstance). Go mode (Go), the URL tests and the soft restart
// (DoRestarter) run on it; so do every fetch, mail, call and restart, one at a time.
//
// The thread talks to its owner only through COpsOwner: flags, codes, the command event and
// the action texts. It is the restart engine's owner view too (CMenderOwner): the engine's
// sleeps and waits end on a STOP or the kill request.
//
// Every sleep goes through the clock it is given and ends within one 2-second slice on a STOP
// or the kill request.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "alerts/emailer.h"
#include "alerts/phoner.h"
#include "alerts/webhook.h"
#include "core/qor_object.h"
#include "ops/cert_watch.h"
#include "ops/ops_codes.h"
#include "ops/ops_facilities.h"
#include "ops/ops_metrics.h"
#include "ops/ops_owner.h"
#include "ops/ops_status.h"
#include "ops/reboot_record.h"
#include "probes/item_manager.h"
#include "probes/w_manager.h"
#include "recovery/insurer.h"
#include "recovery/mender.h"
#include "recovery/mender_owner.h"

class CAllSets;
class CUrlCheckSet;

class COpsMngrThread : public CQorObject, public CMenderOwner {
 public:
  static constexpr const char* kAutoRunKey = "SOFTWARE\\Qorvex\\Sentinex";
  static constexpr const char* kErrorModeKey = "SYSTEM\\CurrentControlSet\\Control\\Windows";
  static constexpr int kPhoneAnswers = 4;

  COpsMngrThread(COpsOwner& owner, const COpsFacilities& facilities);
  COpsMngrThread(const COpsMngrThread&) = delete;
  COpsMngrThread& operator=(const COpsMngrThread&) = delete;
  ~COpsMngrThread() override;

  // ---- lifecycle (ops_mngr_thread.cc) ----
  // The thread's whole run: Initialize, KeepAlive until the kill request, ExitInstance.
  bool InitInstance();
  int ExitInstance();
  bool Initialize();
  bool LowLevelInit();
  bool KeepAlive();
  bool RunTest() { return false; }
  bool ValidateRequireds(bool show);
  bool LocateInternetExplorer();
  bool ReadPopupDisableState();
  bool SetPopupDisableState();
  bool LoadProcPerfs();
  bool LoadAutoRunStatus();
  bool LoadItems();
  // May be called from any thread: while the operations thread uses the phone client, the
  // answers of its last refresh stand.
  bool RefreshPhoneStatus();
  bool SetCurrentAction(std::string_view action, std::string_view object);

  // ---- Go mode (ops_go.cc) ----
  void Go();
  bool SendEmails(bool down, const snx::alerts::AlertEvent* event = nullptr);

  // ---- URL tests (ops_urls.cc) ----
  bool RunUrls();
  bool HandleRemoteUrls(bool alerts);
  bool RunNextRemoteUrl(std::string_view url, const CUrlCheckSet& checks);

  // ---- the soft restart (ops_restarter.cc) ----
  bool DoRestarter();

  // ---- the owner's side ----
  void SetOwner(COpsOwner* owner) { m_pOwner = owner; }
  // The pending command (SNX_GO, SNX_TEST or SNX_STOP), written before "EventCommand" fires.
  void SetCommand(std::int32_t code) { m_iCommand = code; }
  std::int32_t Command() const { return m_iCommand; }
  // Answer 1 to 4 of the phone component's last refresh.
  bool PhoneStatus(int which) const {
    return which >= 1 && which <= kPhoneAnswers && m_abPhoneStatus[which - 1].load();
  }
  std::atomic<bool> m_bCreatedNotResumed{false};

  // ---- CMenderOwner ----
  void SetOpsState(std::int32_t state) override { m_pOwner->m_iOpsState = state; }
  std::int32_t PendingCommand() const override { return m_iCommand; }
  bool KillRequested() const override { return m_pOwner->m_bKillRequest.load(); }

  // ---- what tests and the tools look at ----
  std::int32_t RemoteUrlState() const { return m_iRemoteUrlState; }
  bool LocalUrlsOk() const { return m_bLocalUrlsOk; }
  bool RestartVerified() const { return m_bRestartVerified; }
  bool AutoStart() const { return m_bAutoStart; }
  // Why this start resumed Go mode by itself ("" when it did not); fixed once start-up is done.
  const std::string& ResumeReason() const { return m_sResumeReason; }
  bool DisablePopups() const { return m_bDisablePopups; }
  CItemManager& Items() { return m_ItemManager; }
  CMender& Mender() { return m_Mender; }
  CPhoner& Phoner() { return m_Phoner; }
  CWManager* WManager() { return m_pWManager.get(); }
  COpsMetrics& Metrics() { return m_Metrics; }
  CAllSets* Settings() { return m_pSettings; }

  // ---- the status of the watched items (ops_status_thread.cc) ----
  // Published by this thread, read by any (the command socket's Status).
  const COpsStatusBoard& StatusBoard() const { return m_StatusBoard; }

  // ---- the reboot storm guard (ops_reboot_guard.cc) ----
  // The automatic reboots of the last 24 hours; any thread may ask.
  CRebootRecord& RebootRecord() { return m_RebootRecord; }
  // MaxRebootsPerDay as Go mode last read it (0: no cap); any thread may ask.
  std::int32_t RebootCap() const { return m_iRebootCap; }
  // Reboot decisions withheld by the guard since this thread object was made; any thread may
  // ask (the metrics' snxsvc_reboots_withheld_total).
  std::uint64_t RebootsWithheldTotal() const { return m_iRebootsWithheldTotal; }
  // "N C W": reboots in the last 24 hours, the cap and the reboots withheld, for the command
  // socket.
  std::string RebootGuardSummary();

 private:
  // Go's pieces (ops_go.cc).
  bool StartGo();
  void RunCycle(std::int32_t& restart_count);
  void GoodCycle(std::int32_t state_at_check);
  // True when the machine is being rebooted (the loop ends).
  bool FailedCycle(std::int32_t state_at_check, std::int32_t& restart_count);
  // The down alerts of a failure, by phone and e-mail; `action` says what the watchdog does.
  void SendDownAlerts(std::string_view action);
  // What is told of an alert decided now (ops_alert_event.cc): the machine, the time, the items
  // as the last tests saw them, and the action.
  snx::alerts::AlertEvent MakeAlertEvent(snx::alerts::AlertKind kind, std::string action);
  // "Restart 2 of 3 ..." for the restart about to be made after `restarts_so_far`.
  std::string RestartActionText(std::int32_t restarts_so_far) const;
  // Webhooks (ops_webhooks.cc): an event is queued for every line of [WEBHOOKS] where the alert
  // is decided, and posted by FlushWebhooks once the cycle's restart or reboot is under way.
  void QueueWebhooks(const snx::alerts::AlertEvent& event);
  void FlushWebhooks();
  // Reads the reboot record at start-up; a missing or damaged one gives one warning line.
  void LoadRebootRecord();
  // Whether a reboot decided now keeps within MaxRebootsPerDay; when not, the reboot is
  // withheld: the line, the action and (once a run of failures) the down alerts.
  bool RebootAllowed();
  // Records the reboot about to be asked for (the engine calls it just before the power call).
  void RecordReboot();
  void LeaveGo(bool failure_seen);
  // Writes the figures to the metrics file (when one is set) with the present operations state.
  void PublishMetrics();
  // The status board: a copy of the items and their figures (ops_status_thread.cc).
  void PublishStatus();
  void StatusCycleBegins();
  void StatusCycleEnds();
  void StatusWaitBegins();
  void StatusGoEnds();
  void ShowAlertWarnings();
  // Gives the service log and the uptime record the size limits of the settings (ops_logs.cc).
  void ApplyLogSizeLimits();
  // The https settings of the page fetch, and the certificate of a tested URL (ops_certs.cc).
  void ApplyFetchSettings();
  void WatchCertificate(std::int32_t type, std::string_view url, const CUrlOutcome& outcome);
  void SaveServerState(std::int32_t state);
  // Takes up a settings file changed since it was loaded (ops_settings_reload.cc).
  void TakeUpChangedSettings();
  // Takes up a restart program changed since it was loaded (ops_program_reload.cc).
  void TakeUpChangedProgram();
  bool PhoneReady();
  std::chrono::milliseconds CycleWait() const;
  // The Go flag, the kill request and a STOP: the loop goes on while all allow it.
  bool GoOn() const;
  // AutoRun (ops_resume.cc): Go marks it, an administrator's STOP clears it, a stop by the
  // system records how the service ended.
  void MarkAutoRun();
  void TakeAdminStop();
  void NoteServiceEnd();
  // Reads how the service last ended while AutoRun was on and sets the resume reason; true when
  // it ended with a reboot decision (the server state is then taken as "Rebooting").
  bool ReadResumeReason();
  // Sleeps that end on a STOP or the kill request.
  void Sleep(std::int64_t milliseconds) { m_Mender.SleepWatchingStop(milliseconds); }
  // The entries of a settings section, first to the first empty one.
  std::vector<std::string> SectionEntries(std::string_view section);
  // Refreshes the phone answers; the caller holds m_PhoneMutex.
  bool RefreshPhoneStatusLocked();

  COpsFacilities m_Facilities;
  CAllSets* m_pSettings = nullptr;  // not owned
  COpsOwner* m_pOwner;              // not owned
  std::atomic<std::int32_t> m_iCommand{0};
  std::atomic<bool> m_abPhoneStatus[kPhoneAnswers] = {};
  bool m_bDisablePopups = false;
  CInsurer m_Insurer;
  std::int32_t m_iRemoteUrlState = REMOTE_URLS_NONE;
  CItemManager m_ItemManager;
  CMender m_Mender;
  CPhoner m_Phoner;
  std::mutex m_PhoneMutex;  // one user of the phone client at a time
  CEmailer m_Emailer;
  CCertWatch m_CertWatch;
  const std::atomic<bool>* m_pGoFlag = nullptr;  // the owner's Go flag
  bool m_bRestartVerified = false;
  bool m_bLocalUrlsOk = false;
  std::unique_ptr<CWManager> m_pWManager;
  bool m_bAutoStart = false;
  // AutoRun is "1" in the key store as far as this thread knows (read at start, set by Go).
  bool m_bAutoRunMarked = false;
  // A reboot was decided: the end it recorded stands.
  bool m_bRebootDecided = false;
  std::string m_sResumeReason;
  COpsMetrics m_Metrics;
  COpsStatusTracker m_Status;
  COpsStatusBoard m_StatusBoard;
  // The reboot storm guard.
  CRebootRecord m_RebootRecord;
  std::atomic<std::int32_t> m_iRebootCap{0};
  std::atomic<std::uint64_t> m_iRebootsWithheldTotal{0};
  // The down alerts went out in this run of failed cycles (cleared by a good cycle).
  bool m_bDownAlertsSent = false;
  // When the present outage began (the first failed cycle after a good one); none when unknown.
  std::optional<std::int64_t> m_iOutageStart;
  snx::alerts::CWebhookQueue m_Webhooks;
  // The webhooks heard of the withheld reboot in this run of failed cycles.
  bool m_bWithheldTold = false;
  // Why this cycle's reboot was withheld ("" when it was not): the object of the waiting action.
  std::string m_sRebootWithheld;
};
