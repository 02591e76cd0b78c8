#pragma once
// The length of one minute of the MinuteInterval setting: SNX_MINUTE_SECONDS seconds (a whole
// number from 1 to 3600), 60 when it is not set or not such a number. Only the demo and the
// end-to-end tests set it.

#include <chrono>

namespace snx::platform {

inline constexpr std::chrono::seconds kStandardMinute{60};

std::chrono::seconds MinuteLength();

}  // namespace snx::platform
