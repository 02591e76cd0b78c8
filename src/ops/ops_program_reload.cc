// A restart program changed while the service runs: taken up at the top of a cycle, on this
// thread, when no step of the old one is running.

#include <string>

#include "core/log_writer.h"
#include "ops/ops_mngr_thread.h"

void COpsMngrThread::TakeUpChangedProgram() {
  if (!m_Mender.ProgramChangedSinceLoad()) return;
  std::string why;
  if (!m_Mender.ReloadProgram(why)) {
    LogError("restart program not reloaded: " + why + "; the last good program stays in force");
    return;
  }
  // The settings still come before the program's own logon values and browser, as they do
  // when Go starts.
  if (m_pSettings != nullptr) ValidateRequireds(false);
  LocateInternetExplorer();
  LogMessage("restart program reloaded");
}
