#include "service/snxsvr.h"

#include <string>

#include "core/log_writer.h"
#include "ops/ops_codes.h"
#include "platform/debug_sink.h"
#include "platform/file_system.h"

namespace sp = snx::platform;

namespace {

constexpr int kBannerWidth = 70;

std::string Slashes(int count) { return std::string(static_cast<std::size_t>(count), '/'); }

// "//  text  ...  //", 70 wide.
std::string Framed(std::string_view text) {
  std::string line = "//  " + std::string(text);
  if (line.size() < kBannerWidth - 2) line.append(kBannerWidth - 2 - line.size(), ' ');
  return line + "//";
}

}  // namespace

CSNXSVR::CSNXSVR(const COpsFacilities& facilities, std::string_view program_directory)
    : m_Facilities(facilities), m_sProgramDirectory(program_directory) {
  if (!m_sProgramDirectory.empty() && m_sProgramDirectory.back() != '/') m_sProgramDirectory += '/';
}

void CSNXSVR::FinalConstruct() {
  const sp::VARIANT initialize = sp::Variant::Int(SNX_INITIALIZE);
  std::int32_t result = 0;
  OpsCommand(&initialize, &result);
  if (m_pThreadOwner && m_pThreadOwner->m_bOpsMngrThreadInitialized && m_pThreadOwner->m_bAutoRun) {
    const sp::VARIANT go = sp::Variant::Int(SNX_GO);
    OpsCommand(&go, &result);
  }
}

CSNXSVR::~CSNXSVR() {
  if (m_pThreadOwner) {
    m_pThreadOwner->m_bKillRequest = true;
    if (m_pThreadOwner->m_bThreadsRunning) m_pThreadOwner->KillAllThreads();
    m_pThreadOwner.reset();  // joins the operations thread
  }
  m_Settings.SetSettingsImage(nullptr);
  m_pRamFile.reset();
  LogEvent("SNXSvc functions terminated.********************************************");
  if (m_pOwnLog) {
    g_pLogFile = nullptr;
    m_pOwnLog.reset();
  }
}

bool CSNXSVR::PrepareLog() {
  if (!sp::Files().ChangeFolder(m_sProgramDirectory)) return false;
  if (g_pLogFile != nullptr) return true;  // the log exists: no second banner
  auto log = std::make_unique<CLogFile>();
  log->EnableBlankLines(true);
  log->SetDirectory(m_sProgramDirectory);
  if (!log->Open("SNXSVC")) {
    std::fputs("Problem: insufficient RAM for CLogFile.\n", stdout);
    return false;
  }
  m_pOwnLog = std::move(log);
  g_pLogFile = m_pOwnLog.get();
  WriteBanner();
  m_pOwnLog->EnableBlankLines(true);
  return true;
}

void CSNXSVR::WriteBanner() {
  g_pLogFile->LogBlankLines(1);
  for (const int width : {21, 28, 34, 40}) LogMessage(Slashes(width));
  LogMessage("/////////// SNXSVR Started ///////////");
  LogMessage(Slashes(kBannerWidth));
  g_pLogFile->LogBlankLines(1);
  LogMessage(Slashes(kBannerWidth));
  LogMessage(Slashes(kBannerWidth));
  for (const char* line : kProductLines) LogMessage(Framed(line));
  LogMessage(Slashes(kBannerWidth));
  LogMessage(Framed(kContactLine));
  LogMessage(Slashes(kBannerWidth));
  LogMessage(Slashes(kBannerWidth));
  g_pLogFile->LogBlankLines(1);
}

bool CSNXSVR::Initialize() {
  if (m_bInitialized) return true;
  m_pThreadOwner.reset();  // an earlier failed attempt's owner (its thread is joined)
  m_pThreadOwner = std::make_unique<CThreadOwner>(m_Facilities);
  m_pThreadOwner->SetSettings(&m_Settings);
  m_pThreadOwner->SetProgramDirectory(m_sProgramDirectory);
  if (PrepareLog()) {
    m_Settings.SetSettingsImage(nullptr);
    m_pRamFile = std::make_unique<CRamFileRO>();
    if (m_pRamFile->Initialize(m_sProgramDirectory, "\\AutoSet.caf")) {
      LogEvent("CSNXSVR::Initialize() 2");
      m_Settings.SetSettingsImage(m_pRamFile.get());
      m_Settings.SetProgramDirectory(m_sProgramDirectory);
      if (m_Settings.ReInitialize()) {
        LogEvent("CSNXSVR::Initialize() 3");
        m_pThreadOwner->StartThreads();
        LogEvent("CSNXSVR::Initialize() 4");
        m_bInitialized = true;
      }
    }
  }
  if (!m_bInitialized) LogEvent("CSNXSVR::Initialize() failed.");
  return m_bInitialized;
}

// Go, Test and Stop: flags and the pending command first, then the event.
std::int32_t CSNXSVR::TakeCommand(std::int32_t code) {
  CThreadOwner& owner = *m_pThreadOwner;
  const std::int32_t state = owner.m_iOpsState;
  if (code == SNX_STOP || code == SNX_SERVICE_STOP) {
    LogEvent("CSNXSVR::OpsCommand SNX_STOP command received.");
    // Only an administrator's STOP turns AutoRun off; the thread takes it up within a second,
    // also when Go mode has already ended.
    if (code == SNX_STOP) owner.m_bAdminStop = true;
    code = SNX_STOP;
    if (state == OPS_STOPPED) return -1;
    owner.m_bGo = false;
    owner.m_bTest = false;
    owner.m_iOpsState = OPS_STOPPING;
  } else {
    LogEvent(code == SNX_GO ? "CSNXSVR::OpsCommand SNX_GO command received."
                            : "CSNXSVR::OpsCommand SNX_TEST command received.");
    if (state == OPS_GO_IDLE) return -1;
    owner.m_bTest = code == SNX_TEST;
    owner.m_bGo = code == SNX_GO;
  }
  owner.SetPendingCommand(code);
  owner.FireCommandEvent();
  return -1;
}

sp::HRESULT CSNXSVR::OpsCommand(const sp::VARIANT* pvCommand, std::int32_t* plngResult) {
  if (plngResult == nullptr) return sp::S_OK;
  *plngResult = 0;
  const std::int32_t code = pvCommand != nullptr ? pvCommand->AsInt().value_or(0) : 0;
  if (code == SNX_INITIALIZE) {
    sp::DebugOutput("CSNXSVR::OpsCommand SNX_INITIALIZE command received.\n");
    if (Initialize()) *plngResult = -1;
    return sp::S_OK;
  }
  const bool known = code == SNX_GO || code == SNX_TEST || code == SNX_STOP ||
                     code == SNX_SERVICE_STOP || code == SNX_GET_OPS_STATE ||
                     code == SNX_IS_GO_RUNNING ||
                     (code >= SNX_PHONE_QUERY_1 && code <= SNX_PHONE_QUERY_4);
  if (!known) {
    LogError("CSNXSVR::OpsCommand Unknown command received.");
    return sp::S_OK;
  }
  if (!m_pThreadOwner) return sp::S_OK;  // initialization failed: nothing changes
  CThreadOwner& owner = *m_pThreadOwner;
  switch (code) {
    case SNX_GET_OPS_STATE:
      *plngResult = owner.m_iOpsState;
      break;
    case SNX_IS_GO_RUNNING:
      *plngResult = owner.m_bGoLoopRunning ? -1 : 0;
      break;
    case SNX_GO:
    case SNX_TEST:
    case SNX_STOP:
    case SNX_SERVICE_STOP:
      *plngResult = TakeCommand(code);
      break;
    default:  // the phone queries
      if (owner.OpsThread() != nullptr) {
        owner.RefreshPhoneStatus();
        *plngResult = owner.PhoneStatus(code - (SNX_PHONE_QUERY_1 - 1)) ? -1 : 0;
      }
      break;
  }
  return sp::S_OK;
}

sp::HRESULT CSNXSVR::GetStringResult(const std::int32_t* plngCommand, sp::VARIANT* pvResult) {
  if (plngCommand == nullptr || pvResult == nullptr) return sp::S_OK;
  const std::int32_t code = *plngCommand;
  if (code == SNX_GET_RESUME_REASON) {
    if (m_pThreadOwner && m_pThreadOwner->m_bOpsMngrThreadInitialized &&
        m_pThreadOwner->OpsThread() != nullptr) {
      *pvResult = sp::Variant::Text(m_pThreadOwner->OpsThread()->ResumeReason());
    }
    return sp::S_OK;
  }
  if (code == SNX_GET_REBOOT_GUARD) {
    if (m_pThreadOwner && m_pThreadOwner->OpsThread() != nullptr) {
      *pvResult = sp::Variant::Text(m_pThreadOwner->OpsThread()->RebootGuardSummary());
    }
    return sp::S_OK;
  }
  if (code != SNX_GET_CURRENT_ACTION && code != SNX_GET_CURRENT_ACTION_OBJECT) return sp::S_OK;
  sp::DebugOutput(
      code == SNX_GET_CURRENT_ACTION
          ? "CSNXSVR::GetStringResult SNX_GET_CURRENT_ACTION command received.\n"
          : "CSNXSVR::GetStringResult SNX_GET_CURRENT_ACTION_OBJECT command received.\n");
  std::string text;
  if (m_pThreadOwner) {
    text = code == SNX_GET_CURRENT_ACTION ? m_pThreadOwner->ReadAction()
                                          : m_pThreadOwner->ReadActionObject();
  }
  *pvResult = sp::Variant::Text(text);
  return sp::S_OK;
}
