#include "uptime_metrics.h"

#include "uptime_figures.h"

namespace snx::report {

metrics::MetricsSnapshot MetricsFromRecord(const UptimeRecord& record) {
  metrics::MetricsSnapshot s;
  s.restarts = 0;
  s.reboots = 0;
  for (const ItemReports& item : record.items) {
    if (item.reports.empty()) continue;
    if (item.type == kRestartItem) {
      for (const Report& r : item.reports) ++*(r.Up() ? s.restarts : s.reboots);
      continue;
    }
    const Span last = SpansOf(item, 0).back();  // a copy: the spans are a temporary
    s.items.push_back({item.type, item.name, last.up, last.start});
  }
  return s;
}

}  // namespace snx::report
