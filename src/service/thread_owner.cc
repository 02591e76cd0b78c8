#include "service/thread_owner.h"

#include "core/log_writer.h"
#include "platform/clock.h"
#include "platform/debug_sink.h"

using snx::platform::DebugOutput;

CThreadOwner::CThreadOwner(const COpsFacilities& facilities, ThreadMaker maker)
    : m_Facilities(facilities), m_MakeThread(std::move(maker)) {}

CThreadOwner::~CThreadOwner() {
  LogEvent("SNXSVC CThreadOwner::Destructor.");
  if (m_bThreadsRunning) KillAllThreads();
  // A thread that outlived the kill wait is still using the thread object and the settings:
  // it is waited for (every wait of the thread is bounded) rather than left with freed objects.
  Join();
}

void CThreadOwner::Join() {
  if (m_Thread.joinable()) m_Thread.join();
}

bool CThreadOwner::Initialize() {
  m_bInitialized = false;
  LogEvent("CThreadOwner::Initialize 1.");
  SetState(1001);
  m_bInitialized = InitializeCommandEvent();
  if (!m_bInitialized) LogError("CThreadOwner::Initialize() failed.");
  return m_bInitialized;
}

bool CThreadOwner::StartThreads() {
  LogEvent("CThreadOwner::StartThreads() called.");
  if (m_bInitialized || Initialize()) {
    m_bKillRequest = false;
    m_bOpsMngrThreadInitialized = false;
    if (RestartOpsMngrThread()) {
      for (int round = 0; round < kStartupRounds && !m_bOpsMngrThreadInitialized; ++round) {
        DebugOutput("CThreadOwner::StartThreads()  wait s on m_bOpsMngrThreadInitialized\n");
        m_Facilities.clock.SleepFor(kStartupPoll);
      }
      if (!m_bOpsMngrThreadInitialized) {
        DebugOutput("CThreadOwner::StartThreads() CallingThread initialize failed..");
      }
      m_bThreadsRunning = true;
      m_iOpsState = OPS_READY;
      if (m_bOpsMngrThreadInitialized) return true;
    }
  }
  DebugOutput("CThreadOwner::StartThreads() failed.");
  return false;
}

bool CThreadOwner::RestartOpsMngrThread() {
  m_bKillRequest = false;
  if (!m_pOpsThread) {
    if (!CreateOpsMngrThread()) {
      DebugOutput("CThreadOwner::RestartOpsMngrThread() failed.");
      return false;
    }
  } else {
    m_pOpsThread->SetOwner(this);
  }
  if (m_Thread.joinable()) {
    if (!m_bThreadEnded) {  // still running: nothing to resume
      DebugOutput("CThreadOwner::RestartOpsMngrThread() RESUMED thread.");
      return true;
    }
    m_Thread.join();  // it saw the kill request and ended
  }
  m_pOpsThread->m_bCreatedNotResumed = false;
  m_bThreadEnded = false;
  try {
    m_Thread = std::thread([thread = m_pOpsThread.get()] { thread->InitInstance(); });
  } catch (const std::system_error&) {
    m_bThreadEnded = true;
    DebugOutput("CThreadOwner::RestartOpsMngrThread() failed.");
    return false;
  }
  DebugOutput("CThreadOwner::RestartOpsMngrThread() RESUMED thread.");
  return true;
}

bool CThreadOwner::CreateOpsMngrThread() {
  CLogWriter* log = g_pLogFile;
  m_pOpsThread =
      m_MakeThread ? m_MakeThread(*this) : std::make_unique<COpsMngrThread>(*this, m_Facilities);
  g_pLogFile = log;
  if (!m_pOpsThread) return false;
  m_pOpsThread->SetOwner(this);
  m_pOpsThread->m_bCreatedNotResumed = true;
  DebugOutput("CThreadOwner::CreateOpsMngrThread() Created new thread.");
  LogEvent("CThreadOwner::CreateOpsMngrThread() Created new thread.");
  return true;
}

bool CThreadOwner::KillAllThreads() {
  DebugOutput("SNXSVC: KillAllThreads 0\n");
  LogEvent("SNXSVC CThreadOwner::KillAllThreads() called.");
  m_bKillRequest = true;
  DebugOutput("SNXSVC: KillAllThreads 1\n");
  for (int round = 0; round < kKillRounds; ++round) {
    m_Facilities.clock.SleepFor(kKillPoll);
    DebugOutput("SNXSVC: KillAllThreads 2\n");
    LogEvent("SNXSVC CThreadOwner::KillAllThreads() 2");
    if (m_bThreadEnded) break;
  }
  DebugOutput("SNXSVC: KillAllThreads 3\n");
  m_bThreadsRunning = false;
  DebugOutput("SNXSVC: KillAllThreads done\n");
  LogEvent("SNXSVC CThreadOwner::KillAllThreads() done");
  if (!m_bThreadEnded) {
    LogError("SNXSVC CThreadOwner::KillAllThreads() failed.");
    return false;
  }
  Join();
  return true;
}

void CThreadOwner::SetPendingCommand(std::int32_t code) {
  if (m_pOpsThread) m_pOpsThread->SetCommand(code);
}

bool CThreadOwner::RefreshPhoneStatus() {
  return m_pOpsThread && m_pOpsThread->RefreshPhoneStatus();
}

bool CThreadOwner::PhoneStatus(int which) const {
  return m_pOpsThread && m_pOpsThread->PhoneStatus(which);
}
