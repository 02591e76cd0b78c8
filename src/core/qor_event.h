#pragma once
// CQorEvent: one manual-reset event with a wait time and two latches that remember how the last
// wait ended. The operations thread waits on one ("EventCommand"); other threads fire it.

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/qor_object.h"
#include "platform/manual_reset_event.h"

class CQorEvent : public CQorObject {
 public:
  static constexpr std::int32_t kDefaultWaitMs = 5000;

  CQorEvent() = default;
  CQorEvent(const CQorEvent&) = delete;
  CQorEvent& operator=(const CQorEvent&) = delete;
  ~CQorEvent() override;

  bool Initialize(std::string_view name);
  bool Fire();
  bool Clear();
  // True when the event is set within the wait time. A latched outcome of the last wait is
  // returned at once until Clear.
  bool Wait();

  void SetWaitTime(std::int32_t ms) { m_iWaitTime = ms; }
  std::int32_t WaitTime() const { return m_iWaitTime; }
  bool Signalled() const { return m_bSignalled; }
  bool TimedOut() const { return m_bTimedOut; }
  bool IsInitialized() const { return m_bInitialized; }
  const CQorStr& Message() const { return m_sMessage; }

 private:
  std::int32_t m_iWaitTime = 0;
  bool m_bSignalled = false;
  bool m_bTimedOut = false;
  std::atomic<bool> m_bInitialized{false};
  std::int32_t m_iReserved[4] = {0, 0, 0, 0};
  std::unique_ptr<snx::platform::ManualResetEvent> m_pEvent;
  CQorStr m_sMessage;
  std::int32_t m_iDefaultWaitTime = kDefaultWaitMs;
};
