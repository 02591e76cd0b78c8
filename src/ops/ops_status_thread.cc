// The operations thread's side of the status board: it publishes a copy of the items and their
// figures whenever an item is reported, a cycle begins or ends, the wait for the next cycle
// begins, and Go mode ends.

#include "ops/ops_mngr_thread.h"
#include "platform/clock.h"

void COpsMngrThread::PublishStatus() { m_Status.PublishAll(m_ItemManager, m_StatusBoard); }

void COpsMngrThread::StatusCycleBegins() {
  m_Status.SetNextTest(std::nullopt);  // the test is now
  PublishStatus();
}

void COpsMngrThread::StatusCycleEnds() {
  m_Status.SetLastCycle(UnixSecondsOf(m_Facilities.clock));
  PublishStatus();
}

void COpsMngrThread::StatusWaitBegins() {
  const auto wait = std::chrono::duration_cast<std::chrono::seconds>(CycleWait());
  m_Status.SetNextTest(UnixSecondsOf(m_Facilities.clock) + wait.count());
  PublishStatus();
}

void COpsMngrThread::StatusGoEnds() {
  m_Status.SetNextTest(std::nullopt);  // no test is due outside Go mode
  PublishStatus();
}
