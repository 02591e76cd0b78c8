#include "probes/w_manager.h"

#include "core/log_writer.h"
#include "files/ram_file_ro.h"
#include "platform/path_map.h"
#include "probes/item_manager.h"
#include "probes/p_image.h"
#include "probes/watcher_counter_sink.h"
#include "text/counter_path.h"

namespace {

// The last component of a program text (after its last "\" or "/").
std::string_view FileNamePart(std::string_view program) {
  std::size_t at = program.size();
  while (at > 0 && !snx::platform::IsPathSeparator(program[at - 1])) --at;
  return program.substr(at);
}

}  // namespace

CWManager::~CWManager() = default;

bool CWManager::Initialize(CRamFileRO* image, CWatcherCounterSink* engine,
                           std::string_view machine_name) {
  m_bLive = false;
  SetState(kLive);
  m_pImage = image;
  m_pEngine = engine;
  m_sMachineName.Assign(machine_name);
  m_bLoaded = false;
  m_iProcessesWatched = 0;
  m_bLive = !m_sMachineName.IsEmpty() && m_Images.Initialize() && m_pItemManager != nullptr;
  if (!m_bLive) LogError("CWManager::Initialize() failed.");
  return m_bLive;
}

bool CWManager::IsLive() {
  if (!m_bLive) {
    LogError("CWManager::IsLive() Object is not initialized.");
    return false;
  }
  return CQorObject::IsLive();
}

void CWManager::BuildPrefix() {
  m_sPrefix.Assign("\\\\");
  m_sPrefix.Append(m_sMachineName);
  m_sPrefix.Append("\\Process(");
}

bool CWManager::AddCounters(CPImage& record) {
  if (m_pEngine == nullptr) return false;
  for (int order = 0; order < snx::platform::kProcessCounterCount; ++order) {
    CQorStr path(m_sPrefix);
    path.Append(record.m_sBaseStem);
    path.Append(")\\");
    path.Append(snx::platform::ProcessCounterName(snx::platform::ProcessCounterAt(order)));
    if (!m_pEngine->AddWatcherCounter(path)) return false;
  }
  record.m_bCountersAdded = true;
  return true;
}

bool CWManager::LWN() {
  BuildPrefix();
  m_sLastErrorText.Clear();
  m_iProcessesWatched = 0;
  bool result = true;
  if (m_pImage == nullptr) {
    result = false;
  } else {
    // The image's cursor is shared: copy each entry before anything else reads the image.
    for (CQorStr entry(m_pImage->FirstLineOfSection(kStopsSection)); !entry.IsEmpty();
         entry.Assign(m_pImage->NextLineOfSection())) {
      CPImage* record = nullptr;
      if (!m_Matcher.Go(entry, &m_Images.Records())) {
        if (!m_Images.GetPImageByProgramName(entry, record) || record == nullptr) {
          m_sLastErrorText.Assign("Failed. Cannot see ");
          m_sLastErrorText.Append(FileNamePart(entry));
          result = false;
          break;
        }
        CQorStr line("It's OK. Did find ImageName on 2nd try using TILDE match for: ");
        line.Append(entry);
        LogMessage(line);
      } else {
        const int index = m_Matcher.MatchedIndex();
        if (index < 0) {
          LogError(std::string("CWManager::LWN pointer invalid for: ") + entry.ToString());
          result = false;
          break;
        }
        record = m_Images.At(index);
        if (record == nullptr) {
          LogError(std::string("CWManager::LWN cannot ID: ") + entry.ToString());
          result = false;
          break;
        }
      }
      if (m_pItemManager != nullptr) {
        if (CItem* item = m_pItemManager->GetItemRef(ITEM_PROGRAM, entry)) {
          item->m_sImageName.Assign(record->m_sBaseStem);
        }
      }
      if (!record->m_bCountersAdded) {
        if (!AddCounters(*record)) {
          result = false;
          break;
        }
        ++m_iProcessesWatched;
      }
      m_bLoaded = true;
    }
  }
  LogEvent("CWManager::LWN() done");
  if (!result) LogError("CWManager::LWN failed.");
  return result;
}

bool CWManager::RegisterLaunchedProcess(std::string_view /*program*/, std::int32_t pid) {
  BuildPrefix();
  if (m_bLive) {
    CPImage* record = nullptr;
    m_Images.Refresh();
    if (m_Images.GetPImageByPid(pid, record) && record != nullptr && AddCounters(*record)) {
      return true;
    }
  }
  LogError("CWManager::RegisterLaunchedProcess() failed.");
  return false;
}

std::int32_t CWManager::GetPidOfProgram(std::string_view program) {
  if (!m_bLive) return 0;
  CPImage* record = nullptr;
  if (!m_Images.GetPImageByProgramName(program, record) || record == nullptr) return 0;
  return record->m_iProcessId;
}
