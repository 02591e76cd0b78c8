#pragma once
// CThreadOwner: the meeting point of the command object (on its own threads) and the one
// operations thread. It creates the thread object, runs it on a std::thread of its own, waits
// for its start-up, carries commands to it (flags, the pending command and "EventCommand"),
// hands the current action back with the two-flag handshake, and ends it by the cooperative
// kill request. The thread is always joined before anything it uses is destroyed.
//
// What the command object uses:
//   SetSettings, SetProgramDirectory     before StartThreads
//   StartThreads, KillAllThreads          start (waits up to 75 x 200 ms) and stop (240 x 500 ms)
//   m_bGo, m_bTest, m_iOpsState, ...      the shared flags and codes of COpsOwner (atomics)
//   SetPendingCommand + FireCommandEvent  hand a Go, Test or Stop to the thread
//   ReadAction / ReadActionObject         the current action texts ("" while none)
//   RefreshPhoneStatus, PhoneStatus       the phone component's four answers
//   m_bGoLoopRunning, m_bAutoRun          SNX_IS_GO_RUNNING and the auto-start at creation

#include <cstdint>
#include <functional>
#include <memory>
#include <thread>

#include "core/qor_object.h"
#include "ops/ops_facilities.h"
#include "ops/ops_mngr_thread.h"
#include "ops/ops_owner.h"

class CThreadOwner : public CQorObject, public COpsOwner {
 public:
  static constexpr int kStartupRounds = 75;
  static constexpr std::chrono::milliseconds kStartupPoll{200};
  static constexpr int kKillRounds = 240;
  static constexpr std::chrono::milliseconds kKillPoll{500};

  // Makes the thread object; tests may give one of their own making.
  using ThreadMaker = std::function<std::unique_ptr<COpsMngrThread>(CThreadOwner&)>;

  explicit CThreadOwner(const COpsFacilities& facilities, ThreadMaker maker = {});
  CThreadOwner(const CThreadOwner&) = delete;
  CThreadOwner& operator=(const CThreadOwner&) = delete;
  ~CThreadOwner() override;

  bool Initialize();
  bool StartThreads();
  bool RestartOpsMngrThread();
  bool CreateOpsMngrThread();
  bool KillAllThreads();

  // The command's hand-over: the pending command first, then the event.
  void SetPendingCommand(std::int32_t code);
  bool FireCommandEvent() { return CommandEvent().Fire(); }
  // False without an operations thread.
  bool RefreshPhoneStatus();
  bool PhoneStatus(int which) const;

  bool IsInitialized() const { return m_bInitialized; }
  COpsMngrThread* OpsThread() { return m_pOpsThread.get(); }

 private:
  void Join();

  COpsFacilities m_Facilities;
  ThreadMaker m_MakeThread;
  std::unique_ptr<COpsMngrThread> m_pOpsThread;
  std::thread m_Thread;
  bool m_bInitialized = false;
};
