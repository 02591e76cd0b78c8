#pragma once
// The uptime report as one JSON object, for scripts: the figures the table shows, with times in
// UTC and lengths in seconds (keys in docs/report.md; they stay as they are).

#include <string>

#include "uptime_report.h"

namespace snx::report {

// "2026-12-01T20:00:30Z".
std::string IsoUtc(UnixSeconds t);

// The object, indented by two, ending with a newline. Names and paths go through VisibleText.
std::string RenderJson(const UptimeReport& report);

}  // namespace snx::report
