#pragma once
// Times of the uptime report. The log writes local calendar times ("12/07/26 06:50:41"); the
// report counts in Unix seconds, so that spans across a change of summer time keep their true
// length. The conversion goes through the platform clock's own ToLocal (no time zone rules of
// our own), remembered per local hour, which is as often as an offset can change.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace snx::report {

using UnixSeconds = std::int64_t;

struct CivilTime {
  int year = 1970;
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// Seconds of a calendar time counted as if it were UTC ("civil seconds"), and back.
std::int64_t CivilSeconds(const CivilTime& t);
CivilTime CivilFromSeconds(std::int64_t civil);

// "MM/DD/YY HH:MM:SS" at the start of `text` (exactly 17 bytes of that form, a valid date);
// the year is 2000 + YY.
std::optional<CivilTime> ParseLogStamp(std::string_view text);

class LocalTimeScale {
 public:
  explicit LocalTimeScale(platform::Clock& clock) : clock_(clock) {}

  // The Unix time of a local calendar time. A local time that a change of summer time skips
  // is taken as the same time of the offset before the change; one that occurs twice, as its
  // first occurrence or its second (whichever the clock's offset at that hour gives).
  UnixSeconds ToUnix(std::int64_t civil);
  UnixSeconds ToUnix(const CivilTime& t) { return ToUnix(CivilSeconds(t)); }
  // The local calendar time of a Unix time.
  CivilTime ToCivil(UnixSeconds t);
  UnixSeconds Now();

  // "MM/DD/YY HH:MM:SS", as the log writes it.
  std::string LogStamp(UnixSeconds t);

  // The window bounds an administrator gives: "24h", "7d", "30d" (any whole number of hours or
  // days) back from `end`; or a date "MM/DD/YY" or "YYYY-MM-DD", each with an optional
  // " HH:MM:SS" (or "THH:MM:SS" after the ISO date). A relative form is refused for an end.
  std::optional<UnixSeconds> ParseBound(std::string_view text, UnixSeconds end,
                                        bool relative_allowed);

 private:
  std::int64_t OffsetAt(UnixSeconds t);

  platform::Clock& clock_;
  std::int64_t cached_hour_ = INT64_MIN;
  std::int64_t cached_offset_ = 0;
};

}  // namespace snx::report
