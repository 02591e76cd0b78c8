#pragma once
// CWManager: prepares the watching of process activity. For each program of the settings
// section [STOPS] it finds the running process, tells the program's monitored item which image
// it is, and hands the process's four activity counters to the restart engine's watcher.

#include <cstdint>
#include <string_view>

#include "core/qor_object.h"
#include "core/qor_str.h"
#include "probes/image_name.h"
#include "probes/image_name_matcher.h"

class CRamFileRO;
class CItemManager;
class CWatcherCounterSink;
class CPImage;

class CWManager : public CQorObject {
 public:
  static constexpr const char* kStopsSection = "[STOPS]";

  CWManager() = default;
  CWManager(const CWManager&) = delete;
  CWManager& operator=(const CWManager&) = delete;
  ~CWManager() override;

  // Set by the owner before Initialize.
  void SetItemManager(CItemManager* items) { m_pItemManager = items; }

  bool Initialize(CRamFileRO* image, CWatcherCounterSink* engine, std::string_view machine_name);
  bool IsLive() override;
  // One pass over [STOPS] on the current snapshot.
  bool LWN();
  bool RegisterLaunchedProcess(std::string_view program, std::int32_t pid);
  std::int32_t GetPidOfProgram(std::string_view program);

  const CQorStr& FailureText() const { return m_sLastErrorText; }
  std::int32_t ProcessesWatched() const { return m_iProcessesWatched; }
  bool Loaded() const { return m_bLoaded; }
  void SetLoaded(bool loaded) { m_bLoaded = loaded; }
  CImageName& Snapshot() { return m_Images; }

 private:
  void BuildPrefix();
  // Hands the record's four counters to the engine, in order; false at the first refusal.
  bool AddCounters(CPImage& record);

  CRamFileRO* m_pImage = nullptr;            // not owned
  CWatcherCounterSink* m_pEngine = nullptr;  // not owned
  CQorStr m_sMachineName;
  CQorStr m_sLastErrorText;
  CQorStr m_sPrefix;
  std::int32_t m_iProcessesWatched = 0;
  CItemManager* m_pItemManager = nullptr;  // not owned
  bool m_bLoaded = false;
  bool m_bLive = false;
  CImageName m_Images;
  CImageNameMatcher m_Matcher;
};
