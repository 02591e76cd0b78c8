#include "probes/image_name_matcher.h"

#include <string>

#include "core/log_writer.h"
#include "platform/path_map.h"
#include "probes/p_image.h"

namespace {

// A configured program text found this far into a process path or further counts as a match
// (it then names at least the tail of the path, not a stray piece of a folder name).
constexpr int kMinimumMatchPosition = 8;

}  // namespace

bool CImageNameMatcher::Go(std::string_view program_name, CPointerStack* records) {
  m_pRecords = records;
  bool ok = false;
  if (m_pRecords != nullptr) {
    m_sMatchedBaseStem.Clear();
    m_iMatchedIndex = -1;
    m_iScore = 0;
    m_iMatchedPid = 0;
    m_sProgramName.Assign(program_name);
    std::size_t at = program_name.size();
    while (at > 0 && !snx::platform::IsPathSeparator(program_name[at - 1])) --at;
    CQorStr rest(program_name.substr(at));
    rest.SplitOff('.', m_sProgramFileStem);
    m_sProgramFileExt.Assign(rest);
    m_iProgramFileStemLength = m_sProgramFileStem.Length();
    if (!program_name.empty()) ok = ScanForBestMatch();
  }
  if (!ok) LogError("CImageNameMatcher::Go() failed.");
  return ok;
}

bool CImageNameMatcher::ScanForBestMatch() {
  bool taken = false;
  const int count = m_pRecords != nullptr ? m_pRecords->Count() : 0;
  for (int i = 0; i < count; ++i) {
    const auto* record = static_cast<const CPImage*>(m_pRecords->GetAt(i));
    if (record == nullptr) continue;
    auto take = [&] {
      m_sMatchedBaseStem.Assign(record->m_sBaseStem);
      m_iScore = record->m_iBaseStemLength;
      m_iMatchedPid = record->m_iProcessId;
      m_iMatchedIndex = i;
      taken = true;
    };
    if (record->m_sProgramName.IsSame(m_sProgramName.View())) {
      take();
      return true;
    }
    const int at = record->m_sProgramName.Find(m_sProgramName.View());
    if (at >= kMinimumMatchPosition && at > m_iScore) take();
  }
  if (!taken) {
    LogError(std::string("CImageNameMatcher::ScanForBestMatch() failed for: ") +
             m_sProgramName.ToString());
  }
  return taken;
}
