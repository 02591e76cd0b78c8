#pragma once
// The uptime report over a window: each item's spans and figures, in the order the report shows
// them (local URLs, remote URLs, programs, spare items, then the "Restart" item; within a type
// in the order of their first report), and its two renderings: the table for a terminal and a
// self-contained page.

#include <string>
#include <vector>

#include "log_time.h"
#include "uptime_figures.h"
#include "uptime_record.h"

namespace snx::report {

struct ItemRow {
  const ItemReports* item = nullptr;
  std::vector<Span> spans;
  ItemFigures figures;
};

struct UptimeReport {
  const UptimeRecord* record = nullptr;
  Window window{};
  UnixSeconds now = 0;
  std::vector<ItemRow> rows;
};

// `record` must outlive the report.
UptimeReport BuildReport(const UptimeRecord& record, Window window, UnixSeconds now);

// "local URL", "remote URL", "program", "restart", "spare".
std::string TypeLabel(std::int32_t type);
// "0s", "45s", "4m 10s", "1h 05m", "2d 03h".
std::string DurationText(std::int64_t seconds);
// "expires 2027-01-03 (in 27 days)" or "expired 2026-12-01 (6 days ago)"; the date in UTC.
std::string CertificateText(std::int64_t expiry, UnixSeconds now);
// "99.31 %" (never rounded up), or "-".
std::string AvailabilityText(const ItemFigures& f);

// The table, for a terminal: every text from the log goes through VisibleText.
std::string RenderTable(const UptimeReport& report, LocalTimeScale& scale);
// One HTML page: a timeline per item, no script, nothing fetched from elsewhere.
std::string RenderPage(const UptimeReport& report, LocalTimeScale& scale);

}  // namespace snx::report
