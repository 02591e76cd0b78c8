// Settings changed while the service runs: at the top of each cycle a settings file that
// someone else wrote since it was loaded is taken up, on this thread, before anything reads it.

#include <string>

#include "core/log_writer.h"
#include "files/all_sets.h"
#include "ops/item_sections.h"
#include "ops/ops_mngr_thread.h"

void COpsMngrThread::TakeUpChangedSettings() {
  if (m_pSettings == nullptr || !m_pSettings->FileChangedSinceLoad()) return;
  std::string why;
  bool reloaded = false;
  {
    // The phone client reads the phone settings from any thread's status query.
    std::lock_guard lock(m_PhoneMutex);
    reloaded = m_pSettings->ReloadFromFile(why);
  }
  if (!reloaded) {
    LogError("settings not reloaded: " + why + "; the last good settings stay in force");
    return;
  }
  // What start-up hands on from the settings is handed on again.
  ValidateRequireds(false);
  if (m_pSettings->m_iMinuteInterval <= 0) m_pSettings->m_iMinuteInterval = 10;
  m_Mender.SetRetryCount(m_pSettings->m_iRestartsB4Reboot);
  // New entries get their items (the tests read the sections themselves at each pass).
  for (const CItemSection& s : kItemSections) {
    for (const std::string& entry : SectionEntries(s.section)) {
      if (m_ItemManager.GetItemRef(s.type, entry) == nullptr) m_ItemManager.AddItem(s.type, entry);
    }
  }
  LogMessage("settings reloaded");
}
