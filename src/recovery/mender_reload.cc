// A restart program changed while the service runs: loaded afresh beside the one in force and
// put in its place whole, or refused with the program in force kept.

#include <string>

#include "core/log_writer.h"
#include "files/all_sets.h"
#include "platform/file_system.h"
#include "platform/file_trust.h"
#include "platform/path_map.h"
#include "recovery/mender.h"

bool CMender::ProgramChangedSinceLoad() {
  if (!m_ProgramIdentity) return false;
  const std::string path = ProgramPath();
  const auto now = snx::platform::Files().Identity(path);
  // A refused file is tried again once it changes, or once its permissions or owner are mended
  // (a chmod leaves the identity as it was).
  if (m_bProgramRefused && now == m_RefusedIdentity &&
      snx::platform::UntrustedFileReason(path) == m_sRefusedTrust) {
    return false;
  }
  return now != m_ProgramIdentity;
}

bool CMender::ReloadProgram(std::string& why) {
  why.clear();
  const std::string path = ProgramPath();
  const std::string shown = snx::platform::ToPosixPath(path);
  const auto before = snx::platform::Files().Identity(path);
  const std::string trust = snx::platform::UntrustedFileReason(path);
  // A program of its own, as the start-up load makes it: what the file does not set takes the
  // engine's defaults (the retry count the settings').
  CMender fresh(m_Clock, m_Launcher, m_Power, m_Keys, m_Components);
  if (m_pSettings != nullptr) fresh.m_iRetryCount = m_pSettings->m_iRestartsB4Reboot;
  bool loaded = false;
  if (!before) {
    why = "there is no file " + shown;
  } else if (!trust.empty()) {
    why = shown + " " + trust + ": it is not read";
  } else {
    // The loader's own lines would repeat the one failure line the caller writes.
    CLogCapture capture;
    loaded = fresh.LoadProgram(m_sInstallFolder.View());
    if (!loaded) {
      why = capture.FirstError().empty() ? shown + " cannot be loaded" : capture.FirstError();
    }
  }
  if (!loaded) {
    m_bProgramRefused = true;
    m_RefusedIdentity = before;
    m_sRefusedTrust = trust;
    return false;
  }
  // Nothing runs now: the cursor into the old steps goes, and the old steps go with `fresh`.
  m_pCurrentInstruction = nullptr;
  m_Instructions.Swap(fresh.m_Instructions);
  m_iRetryCount = fresh.m_iRetryCount;
  m_iMaxWait = fresh.m_iMaxWait;
  m_sDomainName.Assign(fresh.m_sDomainName);
  m_sUserName.Assign(fresh.m_sUserName);
  m_sPassword.Assign(fresh.m_sPassword);
  m_sBrowserPath.Assign(fresh.m_sBrowserPath);
  m_ProgramIdentity = fresh.m_ProgramIdentity;
  m_bProgramRefused = false;
  return true;
}
