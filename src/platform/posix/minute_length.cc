// The minute of MinuteInterval, taken from SNX_MINUTE_SECONDS.

#include "platform/minute_length.h"

#include <stdlib.h>

#include <charconv>
#include <cstring>

namespace snx::platform {

std::chrono::seconds MinuteLength() {
  const char* text = getenv("SNX_MINUTE_SECONDS");
  if (text == nullptr) return kStandardMinute;
  long seconds = 0;
  const char* end = text + std::strlen(text);
  const auto [at, error] = std::from_chars(text, end, seconds);
  if (error != std::errc() || at != end || seconds < 1 || seconds > 3600) return kStandardMinute;
  return std::chrono::seconds(seconds);
}

}  // namespace snx::platform
