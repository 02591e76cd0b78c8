// The soft restart: kill the programs of [STOPS], reset the web server, start the programs of
// [PROGS], test the local URLs once and verify for up to RstrSecs seconds that every watched
// program runs again.

#include <chrono>
#include <string>

#include "core/log_writer.h"
#include "files/all_sets.h"
#include "files/log_file.h"
#include "ops/ops_mngr_thread.h"
#include "platform/clock.h"
#include "platform/launcher.h"

namespace {

constexpr std::int64_t kRegisterWaitStep = 2000;
constexpr std::int64_t kRegisterWaitLast = 6000;

}  // namespace

bool COpsMngrThread::DoRestarter() {
  const std::int64_t start = UnixSecondsOf(m_Facilities.clock);
  LogEvent("COpsMngrThread::DoRestarter() 0.");
  for (const std::string& entry : SectionEntries("[STOPS]")) {
    if (StopOrKill()) break;
    const std::int32_t pid = m_pWManager ? m_pWManager->GetPidOfProgram(entry) : 0;
    const std::string kill = "KILL /f " + std::to_string(pid);
    m_Mender.RunHidden(kill, true);
    m_Mender.RunHidden(kill, true);
    Sleep(1500);
  }
  LogEvent("COpsMngrThread::DoRestarter() 1.");
  if (!m_Mender.IISWasReset()) m_Mender.ResetWebServer("IISRESET.exe", true);
  if (StopOrKill()) {
    LogError("COpsMngrThread::DoRestarter() Soft Restart failed.");
    return false;
  }
  LogEvent("COpsMngrThread::DoRestarter() 2.");
  m_bRestartVerified = false;
  m_Mender.RecreateWatcher();
  LoadProcPerfs();
  LogEvent(m_pWManager->Loaded() ? "COpsMngrThread::DoRestarter() Wtc loaded 1."
                                 : "COpsMngrThread::DoRestarter() Wtc not yet loaded 1.");
  for (const std::string& entry : SectionEntries("[PROGS]")) {
    if (StopOrKill()) break;
    LogEvent("COpsMngrThread::DoRestarter() 3.");
    // Started as root: only from a file no one else can change.
    snx::platform::LaunchRequest request;
    request.command_line = entry;
    request.window = snx::platform::LaunchWindow::kHidden;
    request.wait = false;
    request.trusted_only = true;
    const snx::platform::LaunchResult started = m_Facilities.launcher.Run(request);
    if (!started.Ran()) {
      LogError("Error: the [PROGS] line \"" + entry + "\" was not started: " + started.detail);
    }
    LogEvent("COpsMngrThread::DoRestarter() 4.");
    for (std::int64_t wait = kRegisterWaitStep; !StopOrKill(); wait += kRegisterWaitStep) {
      Sleep(wait);
      if (m_pWManager->RegisterLaunchedProcess(entry, started.pid)) break;
      LogMessage("COpsMngrThread::DoRestarter() re-trys to register it..");
      if (wait + kRegisterWaitStep > kRegisterWaitLast) break;
    }
    LogEvent("COpsMngrThread::DoRestarter() 5.");
    Sleep(1500);
  }
  LogEvent("COpsMngrThread::DoRestarter() 8.");
  RunUrls();
  if (!StopOrKill()) {
    const std::int32_t limit = m_pSettings->m_iRstrSecs;
    for (;;) {
      LogEvent("COpsMngrThread::DoRestarter() 9.");
      Sleep(5000);
      LoadProcPerfs();
      if (m_pWManager->LWN()) {
        m_bRestartVerified = true;
        m_ItemManager.LogProgramsBack();  // every watched program runs again
        LogEvent(m_pWManager->Loaded() ? "COpsMngrThread::DoRestarter() Wtc loaded 2."
                                       : "COpsMngrThread::DoRestarter() Wtc not yet loaded 2.");
        break;
      }
      LogMessage("COpsMngrThread::DoRestarter() re-trys to register URL or process..");
      const std::int64_t elapsed = UnixSecondsOf(m_Facilities.clock) - start;
      LogEvent("Cannot verify this restart:   " + m_pWManager->FailureText().ToString());
      LogEvent("\nWe assume it's a slow starter.");
      LogEvent("\nWe assume it's a slow starter.Retrying for " + std::to_string(limit - elapsed) +
               " more seconds.");
      LogEvent("(controlled by your 'Restarter Seconds' setting)");
      if (elapsed >= limit || StopOrKill()) break;
    }
  }
  LogEvent("COpsMngrThread::DoRestarter() 11b.");
  if (m_bRestartVerified) {
    LogEvent(LogTimeStamp(m_Facilities.clock) + "** Soft Restart completed");
    return true;
  }
  LogError("COpsMngrThread::DoRestarter() Soft Restart failed.");
  return false;
}
