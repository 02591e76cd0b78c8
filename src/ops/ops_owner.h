#pragma once
// COpsOwner: what the operations thread shares with the object that owns it (the thread
// owner of the service). The command object's threads write the flags, the operations state
// and the thread's pending command, then fire "EventCommand"; the operations thread reads them,
// keeps the operations state and the Go-loop flag current, and publishes the current action.
//
// Every flag and code is an atomic. The two action texts are guarded by the two-flag handshake
// (being read / available) and, under it, by a mutex, so a reader never copies a half-written
// text.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "core/qor_event.h"
#include "core/qor_str.h"

class CAllSets;

class COpsOwner {
 public:
  static constexpr const char* kCommandEventName = "EventCommand";
  static constexpr std::int32_t kCommandWaitMs = 1000;

  COpsOwner() = default;
  COpsOwner(const COpsOwner&) = delete;
  COpsOwner& operator=(const COpsOwner&) = delete;
  virtual ~COpsOwner() = default;

  // Set before the thread starts; read-only while it runs.
  void SetSettings(CAllSets* settings) { m_pSettings = settings; }
  CAllSets* Settings() const { return m_pSettings; }
  void SetProgramDirectory(std::string_view directory) { m_sProgramDirectory.Assign(directory); }
  const CQorStr& ProgramDirectory() const { return m_sProgramDirectory; }

  // Waits 1000 ms, named "EventCommand"; false when it cannot be made.
  bool InitializeCommandEvent();
  CQorEvent& CommandEvent() { return m_CommandEvent; }

  // The writer's half (the operations thread): skipped while a reader copies; an empty text
  // keeps the one before.
  void PublishAction(std::string_view action, std::string_view object);
  // The reader's half (the command object): "" while no action is available.
  std::string ReadAction() { return Read(m_sCurrentAction); }
  std::string ReadActionObject() { return Read(m_sCurrentActionObject); }

  std::atomic<bool> m_bThreadsRunning{false};
  std::atomic<bool> m_bGoLoopRunning{false};
  std::atomic<bool> m_bOpsMngrThreadInitialized{false};
  std::atomic<bool> m_bStartupFinished{false};
  std::atomic<bool> m_bActionAvailable{false};
  std::atomic<bool> m_bActionBeingRead{false};
  std::atomic<bool> m_bKillRequest{false};
  std::atomic<bool> m_bGo{false};
  std::atomic<bool> m_bTest{false};
  std::atomic<bool> m_bThreadEnded{true};
  std::atomic<std::int32_t> m_iOpsState{0};
  std::atomic<bool> m_bAutoRun{false};
  // An administrator's STOP (the command socket's, not the service manager's): the operations
  // thread clears AutoRun, so the service stays idle at its next start.
  std::atomic<bool> m_bAdminStop{false};

 private:
  std::string Read(const CQorStr& text);

  CAllSets* m_pSettings = nullptr;  // not owned
  CQorStr m_sProgramDirectory;
  std::mutex m_ActionMutex;
  CQorStr m_sCurrentAction;
  CQorStr m_sCurrentActionObject;
  CQorEvent m_CommandEvent;
};
