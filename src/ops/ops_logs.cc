// The size limits of the service log and the uptime record, from the settings.

#include <algorithm>

#include "core/log_writer.h"
#include "files/all_sets.h"
#include "files/log_file.h"
#include "ops/ops_mngr_thread.h"

namespace {

// A smaller limit would move the log away every few lines and keep almost no history.
constexpr std::int64_t kLeastSizeLimit = 100000;

std::int64_t LimitOf(std::int32_t setting, std::int64_t built_in) {
  return setting <= 0 ? built_in : std::max<std::int64_t>(setting, kLeastSizeLimit);
}

}  // namespace

void COpsMngrThread::ApplyLogSizeLimits() {
  if (auto* log_file = dynamic_cast<CLogFile*>(g_pLogFile)) {
    log_file->SetSizeLimit(LimitOf(m_pSettings->m_iLogSizeLimit, CLogFile::kDefaultSizeLimit));
  }
  m_ItemManager.SetUptimeSizeLimit(
      LimitOf(m_pSettings->m_iUptimeSizeLimit, CItemManager::kUptimeSizeLimit));
}
