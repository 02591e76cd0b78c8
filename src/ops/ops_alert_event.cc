// The alert event of Go mode: built where an alert is decided, from what the last tests saw.

#include <string>

#include "alerts/alert_event.h"
#include "files/all_sets.h"
#include "ops/ops_mngr_thread.h"
#include "platform/clock.h"

using snx::alerts::AlertEvent;
using snx::alerts::AlertItem;
using snx::alerts::AlertKind;

AlertEvent COpsMngrThread::MakeAlertEvent(AlertKind kind, std::string action) {
  AlertEvent event;
  event.kind = kind;
  event.machine = m_pSettings->m_sMachineName.ToString();
  snx::platform::Clock& clock = m_Facilities.clock;
  event.time = snx::alerts::IsoLocal(clock.ToLocal(clock.WallNow()));
  event.action = std::move(action);
  for (const COpsItemStatus& seen : m_Status.Build(m_ItemManager).items) {
    // The restart engine's own item and the spare ones say nothing of the server.
    if (seen.type != ITEM_LOCAL_URL && seen.type != ITEM_REMOTE_URL && seen.type != ITEM_PROGRAM) {
      continue;
    }
    AlertItem item;
    item.kind = ItemKindName(seen.type);
    item.name = seen.name;
    item.state = ItemStateName(seen.state);
    item.http_status = seen.http_status;
    item.error = seen.error;
    event.items.push_back(std::move(item));
  }
  if (kind == AlertKind::kUp && m_iOutageStart) {
    event.outage_seconds = UnixSecondsOf(clock) - *m_iOutageStart;
  }
  return event;
}

std::string COpsMngrThread::RestartActionText(std::int32_t restarts_so_far) const {
  const std::int32_t limit = m_pSettings->m_iRestartsB4Reboot;
  const std::string n = std::to_string(restarts_so_far + 1);
  if (limit <= 0) return "restarting the applications: restart " + n + " (no automatic reboot).";
  return "restarting the applications: restart " + n + " of " + std::to_string(limit) +
         "; the machine is rebooted when the server is still down after restart " +
         std::to_string(limit) + ".";
}
