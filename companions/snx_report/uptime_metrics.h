#pragma once
// The figures the uptime log alone tells, for `snxctl report --metrics`, in the same text as the
// service's metrics file (core/metrics_text.h).

#include "core/metrics_text.h"
#include "uptime_record.h"

namespace snx::report {

// Each item's last state and when it began, and the restarts and reboots (up and down reports
// of the "Restart" item) of the whole record.
metrics::MetricsSnapshot MetricsFromRecord(const UptimeRecord& record);

}  // namespace snx::report
