#pragma once
// Where the service keeps its figures for Prometheus: the path SNX_METRICS_FILE names, "" when
// it is unset or empty (then no file is written).

#include <string>

namespace snx::platform {

std::string MetricsFilePath();

}  // namespace snx::platform
