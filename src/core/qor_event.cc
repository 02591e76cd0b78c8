#include "core/qor_event.h"

#include <chrono>

CQorEvent::~CQorEvent() = default;

bool CQorEvent::Initialize(std::string_view name) {
  m_bInitialized = false;
  SetState(kLive);
  Assign(name);
  if (name.empty()) return false;
  if (m_iWaitTime == 0) m_iWaitTime = m_iDefaultWaitTime;
  for (auto& word : m_iReserved) word = 0;
  m_pEvent = std::make_unique<snx::platform::ManualResetEvent>();
  m_bInitialized = (m_pEvent != nullptr);
  return m_bInitialized;
}

bool CQorEvent::Fire() {
  if (!m_pEvent) {
    m_sMessage.Assign("For CQorEvent named ");
    m_sMessage.Append(View());
    m_sMessage.Append(": FIRE event failed.");
    return false;
  }
  m_pEvent->Set();
  return true;
}

bool CQorEvent::Clear() {
  m_bSignalled = false;
  m_bTimedOut = false;
  if (!m_pEvent) {
    m_sMessage.Assign("For CQorEvent named ");
    m_sMessage.Append(View());
    m_sMessage.Append(": CLEAR event failed.");
    return false;
  }
  m_pEvent->Reset();
  return true;
}

bool CQorEvent::Wait() {
  if (m_bSignalled || m_bTimedOut) return true;
  if (m_pEvent && m_pEvent->Wait(std::chrono::milliseconds(m_iWaitTime))) {
    m_bSignalled = true;
  } else {
    m_bTimedOut = true;
  }
  return m_bSignalled;
}
