#pragma once
// Spans and figures of one item. A span runs from one report of the item to its next report
// (the last one to now) and has the state of the report that opened it; spans of one state that
// follow each other are joined into one span. Before an item's first report its state is
// unknown ("no report"): that time counts neither as up nor as down.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "log_time.h"
#include "uptime_record.h"

namespace snx::report {

enum class ItemState { kNoReport, kDown, kUp };

struct Span {
  UnixSeconds start;
  UnixSeconds end;  // the next report of the other state, or now
  bool up;
  bool open;  // the last span: no report of the other state came yet
};

struct Window {
  UnixSeconds from;
  UnixSeconds to;
};

// The window an administrator asks for: `since` ("24h", "7d" or a date) up to `until` (a date;
// "" is now). None, with `why` saying what is wrong, when a text is not such a bound or the
// window is empty.
std::optional<Window> WindowOf(LocalTimeScale& scale, const std::string& since,
                               const std::string& until, std::string& why);

// The spans of an item's reports (in time order); the last one runs to `now` (a report later
// than `now` makes a span that ends where it starts).
std::vector<Span> SpansOf(const ItemReports& item, UnixSeconds now);

struct ItemFigures {
  std::int64_t up_seconds = 0;    // inside the window
  std::int64_t down_seconds = 0;  // inside the window
  // Up time / (up + down time) in percent; none when the item had no report for any of the
  // window.
  std::optional<double> availability;
  // Outages: down spans that overlap the window, each counted whole (from its first down report
  // to the up report that ended it, or to the window's end when none came by then).
  int outages = 0;
  std::int64_t longest_outage = 0;
  // Mean length of the outages that ended with an up report inside the window.
  std::optional<std::int64_t> mean_time_to_recovery;
  // The state at the window's end, and the first report of that state's span.
  ItemState state = ItemState::kNoReport;
  UnixSeconds since = 0;
  // The last report by the window's end (for the "Restart" item, the last restart or reboot);
  // set when `state` is known.
  UnixSeconds last_report = 0;
  // Reports inside the window: for the "Restart" item an up report is a restart, a down report
  // a reboot.
  int up_reports = 0;
  int down_reports = 0;
};

ItemFigures FiguresOf(const ItemReports& item, const std::vector<Span>& spans, Window window);

// The availability shown, to 0.01 % and never rounded up: a little down time is never 100.00 %.
double ShownAvailability(double percent);

}  // namespace snx::report
