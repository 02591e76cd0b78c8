#include "uptime_figures.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace snx::report {

std::vector<Span> SpansOf(const ItemReports& item, UnixSeconds now) {
  std::vector<Span> spans;
  for (const Report& r : item.reports) {
    if (!spans.empty() && spans.back().up == r.Up()) continue;
    if (!spans.empty()) spans.back().end = r.Time(), spans.back().open = false;
    spans.push_back({r.Time(), r.Time(), r.Up(), true});
  }
  if (!spans.empty()) spans.back().end = std::max(spans.back().start, now);
  return spans;
}

ItemFigures FiguresOf(const ItemReports& item, const std::vector<Span>& spans, Window window) {
  ItemFigures f;
  std::int64_t recovered_total = 0;
  int recovered = 0;
  for (const Span& span : spans) {
    if (span.start <= window.to) {
      f.state = span.up ? ItemState::kUp : ItemState::kDown;
      f.since = span.start;
    }
    const std::int64_t inside = std::max<std::int64_t>(
        0, std::min(span.end, window.to) - std::max(span.start, window.from));
    (span.up ? f.up_seconds : f.down_seconds) += inside;
    if (span.up || span.start >= window.to || span.end <= window.from) continue;
    const bool ended_inside = !span.open && span.end <= window.to;
    const std::int64_t length = (ended_inside ? span.end : window.to) - span.start;
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
  const auto after_end = std::upper_bound(item.reports.begin(), item.reports.end(), window.to,
                                          [](UnixSeconds t, Report r) { return t < r.Time(); });
  if (after_end != item.reports.begin()) f.last_report = std::prev(after_end)->Time();
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

std::optional<Window> WindowOf(LocalTimeScale& scale, const std::string& since,
                               const std::string& until, std::string& why) {
  const UnixSeconds now = scale.Now();
  std::optional<UnixSeconds> to = now;
  if (!until.empty()) to = scale.ParseBound(until, now, false);
  if (!to) {
    why = "until: not a date (MM/DD/YY [HH:MM:SS] or YYYY-MM-DD [HH:MM:SS])";
    return std::nullopt;
  }
  const std::optional<UnixSeconds> from = scale.ParseBound(since, *to, true);
  if (!from) {
    why =
        "since: not 24h, 7d, 30d (a number of hours or days) or a date (MM/DD/YY "
        "[HH:MM:SS] or YYYY-MM-DD [HH:MM:SS])";
    return std::nullopt;
  }
  if (*from >= *to) {
    why = "the window is empty: since is not before until";
    return std::nullopt;
  }
  return Window{*from, *to};
}

}  // namespace snx::report
