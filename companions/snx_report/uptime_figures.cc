#include "uptime_figures.h"

#include <algorithm>
#include <cmath>

namespace snx::report {

std::vector<Run> RunsOf(const ItemReports& item, UnixSeconds now) {
  std::vector<Run> runs;
  for (const Report& r : item.reports) {
    if (!runs.empty() && runs.back().up == r.Up()) continue;
    if (!runs.empty()) runs.back().end = r.Time(), runs.back().open = false;
    runs.push_back({r.Time(), r.Time(), r.Up(), true});
  }
  if (!runs.empty()) runs.back().end = std::max(runs.back().start, now);
  return runs;
}

ItemFigures FiguresOf(const ItemReports& item, const std::vector<Run>& runs, Window window) {
  ItemFigures f;
  std::int64_t recovered_total = 0;
  int recovered = 0;
  for (const Run& run : runs) {
    if (run.start <= window.to) {
      f.state = run.up ? ItemState::kUp : ItemState::kDown;
      f.since = run.start;
    }
    const std::int64_t inside =
        std::max<std::int64_t>(0, std::min(run.end, window.to) - std::max(run.start, window.from));
    (run.up ? f.up_seconds : f.down_seconds) += inside;
    if (run.up || run.start >= window.to || run.end <= window.from) continue;
    const bool ended_inside = !run.open && run.end <= window.to;
    const std::int64_t length = (ended_inside ? run.end : window.to) - run.start;
    ++f.outages;
    f.longest_outage = std::max(f.longest_outage, length);
    if (ended_inside) recovered_total += length, ++recovered;
  }
  if (f.up_seconds + f.down_seconds > 0) {
    f.availability = 100.0 * static_cast<double>(f.up_seconds) /
                     static_cast<double>(f.up_seconds + f.down_seconds);
  }
  if (recovered > 0) f.mean_time_to_recovery = recovered_total / recovered;
  // Reports are in time order: the window's reports are one stretch of them.
  const auto first = std::lower_bound(item.reports.begin(), item.reports.end(), window.from,
                                      [](Report r, UnixSeconds t) { return r.Time() < t; });
  for (auto it = first; it != item.reports.end() && it->Time() < window.to; ++it) {
    ++(it->Up() ? f.up_reports : f.down_reports);
  }
  return f;
}

double ShownAvailability(double percent) {
  // A hair above the exact hundredth is kept, so that 99.99 computed as 99.98999... stays.
  return std::floor(percent * 100.0 + 1e-6) / 100.0;
}

}  // namespace snx::report

