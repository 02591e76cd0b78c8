#include "probes/image_name.h"

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "core/log_writer.h"
#include "platform/path_map.h"
#include "platform/process_list.h"
#include "probes/match_tilde_name.h"

namespace {

// The last component of a path ("\" and "/" both separate), trimmed.
CQorStr FileNameOf(std::string_view path) {
  std::size_t at = path.size();
  while (at > 0 && !snx::platform::IsPathSeparator(path[at - 1])) --at;
  CQorStr name(path.substr(at));
  name.Trim();
  return name;
}

// Splits a name at its first "." into stem and extension (my.app.exe: my and app.exe).
void SplitAtFirstDot(const CQorStr& name, CQorStr& stem, CQorStr& ext) {
  CQorStr rest(name);
  rest.SplitOff('.', stem);
  ext.Assign(rest);
}

}  // namespace

CImageName::~CImageName() { DeleteRecords(); }

void CImageName::DeleteRecords() {
  while (void* entry = m_Records.Pop())
    std::unique_ptr<CPImage> owned(static_cast<CPImage*>(entry));
}

bool CImageName::Initialize() {
  SetState(kLive);
  m_bLive = Refresh();
  if (!m_bLive) LogError("CImageName::Initialize() failed.");
  return m_bLive;
}

bool CImageName::Refresh() {
  DeleteRecords();
  std::vector<snx::platform::ProcessInfo> processes;
  if (!snx::platform::Use<snx::platform::ProcessList>().Snapshot(processes)) return false;
  // Room for every process: a busy host must not lose the processes past a fixed count.
  const int needed = static_cast<int>(std::min<std::size_t>(processes.size(), 1u << 30));
  if (needed > m_Records.Size() || m_Records.Size() == 0) {
    m_Records.Initialize(std::max(needed, CPointerStack::kDefaultSize));
  }
  for (const auto& p : processes) AddRecord(p.executable_path, p.base_name, p.pid);
  return true;
}

bool CImageName::AddRecord(std::string_view full_path, std::string_view base_name,
                           std::int32_t pid) {
  if (full_path.empty() || full_path == "unknown") return false;
  auto record = std::make_unique<CPImage>();
  // A path too long for a text cannot be compared with a program text either.
  if (!record->m_sProgramName.Assign(full_path)) return false;
  const CQorStr file_name = FileNameOf(full_path);
  SplitAtFirstDot(file_name, record->m_sFileStem, record->m_sFileExt);
  record->m_iFileStemLength = record->m_sFileStem.Length();
  record->m_sBaseName.Assign(base_name);
  SplitAtFirstDot(record->m_sBaseName, record->m_sBaseStem, record->m_sBaseExt);
  record->m_iBaseStemLength = record->m_sBaseStem.Length();
  record->m_iProcessId = pid;
  if (!m_Records.Push(record.get())) return false;
  (void)record.release();  // the list holds it; DeleteRecords deletes it
  return true;
}

bool CImageName::GetPImageByProgramName(std::string_view program_name, CPImage*& record) {
  record = nullptr;
  if (!program_name.empty()) {
    const int count = m_Records.Count();
    for (int i = 0; i < count; ++i) {
      CPImage* candidate = At(i);
      if (candidate == nullptr) continue;
      if (candidate->m_sProgramName.IsSame(program_name) ||
          (candidate->m_sProgramName.Find("~") >= 0 && MatchTildeName(*candidate, program_name))) {
        record = candidate;
        return true;
      }
    }
  }
  LogError("CImageName::GetPImageByProgramName failed.");
  return false;
}

bool CImageName::GetPImageByPid(std::int32_t pid, CPImage*& record) {
  record = nullptr;
  if (pid != 0) {
    const int count = m_Records.Count();
    for (int i = 0; i < count; ++i) {
      CPImage* candidate = At(i);
      if (candidate != nullptr && candidate->m_iProcessId == pid) {
        record = candidate;
        return true;
      }
    }
  }
  LogError("CImageName::GetPImageByPid failed.");
  return false;
}
