// The metrics file, taken from SNX_METRICS_FILE.

#include "platform/metrics_file.h"

#include <stdlib.h>

namespace snx::platform {

std::string MetricsFilePath() {
  const char* path = getenv("SNX_METRICS_FILE");
  return path != nullptr ? path : "";
}

}  // namespace snx::platform
