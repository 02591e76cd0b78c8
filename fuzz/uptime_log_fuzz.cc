// libFuzzer target: the uptime report fed with any bytes as "Uptime.log".
//
// The bytes are fed in two pieces (a line may span them), the report is built over a window and
// rendered as a table, a page and metrics. Nothing may crash; every line is counted once, each
// item's reports come out in time order, and no text from the log becomes markup.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/fake/fake_clock.h"
#include "uptime_metrics.h"
#include "uptime_report.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace snx::report;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  snx::platform::FakeClock clock(snx::platform::FakeClock::FromUtc(2026, 6, 1));
  LocalTimeScale scale(clock);
  UptimeReader reader(scale);
  const std::size_t cut = size == 0 ? 0 : data[0] % size;
  reader.Feed(bytes.substr(0, cut));
  reader.Feed(bytes.substr(cut));
  const UptimeRecord record = reader.Finish();

  const std::size_t lines = std::count(bytes.begin(), bytes.end(), '\n') + 1;
  if (record.reports + record.other_lines + record.skipped > lines) abort();
  for (const ItemReports& item : record.items) {
    if (!std::is_sorted(item.reports.begin(), item.reports.end(),
                        [](Report a, Report b) { return a.Time() < b.Time(); })) {
      abort();
    }
  }
  const UnixSeconds now = scale.Now();
  const UptimeReport report = BuildReport(record, {now - 30 * 86400, now}, now);
  RenderTable(report, scale);
  const std::string page = RenderPage(report, scale);
  if (page.find("<script") != std::string::npos) abort();
  snx::metrics::FormatMetrics(MetricsFromRecord(record));
  scale.ParseBound(bytes.substr(0, 24), now, true);
  return 0;
}
