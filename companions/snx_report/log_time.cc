#include "log_time.h"

#include <chrono>
#include <cstdio>

namespace snx::report {
namespace {

constexpr std::int64_t kDay = 86400;

bool Valid(const CivilTime& t) {
  return t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= platform::DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour <= 23 &&
         t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

// The two digits at `at`, or -1.
int TwoDigits(std::string_view text, std::size_t at) {
  if (at + 2 > text.size()) return -1;
  const char a = text[at];
  const char b = text[at + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
  return (a - '0') * 10 + (b - '0');
}

// "HH:MM:SS" as the whole of `text`.
bool ParseClockTime(std::string_view text, CivilTime& t) {
  if (text.size() != 8 || text[2] != ':' || text[5] != ':') return false;
  t.hour = TwoDigits(text, 0);
  t.minute = TwoDigits(text, 3);
  t.second = TwoDigits(text, 6);
  return t.hour >= 0 && t.minute >= 0 && t.second >= 0;
}

std::optional<CivilTime> ParseDate(std::string_view text) {
  CivilTime t;
  std::string_view rest;
  if (text.size() >= 8 && text[2] == '/' && text[5] == '/') {  // MM/DD/YY
    t.month = TwoDigits(text, 0);
    t.day = TwoDigits(text, 3);
    const int yy = TwoDigits(text, 6);
    if (yy < 0) return std::nullopt;
    t.year = 2000 + yy;
    rest = text.substr(8);
  } else if (text.size() >= 10 && text[4] == '-' && text[7] == '-') {  // YYYY-MM-DD
    const int hi = TwoDigits(text, 0);
    const int lo = TwoDigits(text, 2);
    if (hi < 0 || lo < 0) return std::nullopt;
    t.year = hi * 100 + lo;
    t.month = TwoDigits(text, 5);
    t.day = TwoDigits(text, 8);
    rest = text.substr(10);
  } else {
    return std::nullopt;
  }
  if (!rest.empty() && ((rest[0] != ' ' && rest[0] != 'T') || !ParseClockTime(rest.substr(1), t))) {
    return std::nullopt;
  }
  if (!Valid(t)) return std::nullopt;
  return t;
}

}  // namespace

std::int64_t CivilSeconds(const CivilTime& t) {
  return platform::CalendarSeconds(t.year, t.month, t.day, t.hour, t.minute, t.second);
}

CivilTime CivilFromSeconds(std::int64_t civil) {
  std::int64_t days = civil / kDay;
  std::int64_t secs = civil % kDay;
  if (secs < 0) secs += kDay, --days;
  // H. Hinnant's civil_from_days.
  const std::int64_t z = days + 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  CivilTime t;
  t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  t.year = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (t.month <= 2));
  t.hour = static_cast<int>(secs / 3600);
  t.minute = static_cast<int>(secs / 60 % 60);
  t.second = static_cast<int>(secs % 60);
  return t;
}

std::optional<CivilTime> ParseLogStamp(std::string_view text) {
  if (text.size() < 17 || text[2] != '/' || text[5] != '/' || text[8] != ' ' || text[11] != ':' ||
      text[14] != ':') {
    return std::nullopt;
  }
  CivilTime t;
  t.month = TwoDigits(text, 0);
  t.day = TwoDigits(text, 3);
  t.year = 2000 + TwoDigits(text, 6);
  t.hour = TwoDigits(text, 9);
  t.minute = TwoDigits(text, 12);
  t.second = TwoDigits(text, 15);
  if (t.year < 2000 || !Valid(t)) return std::nullopt;
  return t;
}

std::int64_t LocalTimeScale::OffsetAt(UnixSeconds t) {
  const platform::LocalTime l = clock_.ToLocal(platform::Clock::WallTime(std::chrono::seconds(t)));
  return CivilSeconds({l.year, l.month, l.day, l.hour, l.minute, l.second}) - t;
}

UnixSeconds LocalTimeScale::ToUnix(std::int64_t civil) {
  const std::int64_t hour = civil >= 0 ? civil / 3600 : (civil - 3599) / 3600;
  if (hour != cached_hour_) {
    // The offset at the guess made with the offset of the civil time read as UTC: right
    // everywhere but inside the hour that a change skips or repeats.
    const std::int64_t first = OffsetAt(hour * 3600);
    cached_offset_ = OffsetAt(hour * 3600 - first);
    cached_hour_ = hour;
  }
  return civil - cached_offset_;
}

CivilTime LocalTimeScale::ToCivil(UnixSeconds t) { return CivilFromSeconds(t + OffsetAt(t)); }

UnixSeconds LocalTimeScale::Now() {
  return std::chrono::duration_cast<std::chrono::seconds>(clock_.WallNow().time_since_epoch())
      .count();
}

std::string LocalTimeScale::LogStamp(UnixSeconds t) {
  const CivilTime c = ToCivil(t);
  char stamp[40];
  std::snprintf(stamp, sizeof stamp, "%02d/%02d/%02d %02d:%02d:%02d", c.month, c.day, c.year % 100,
                c.hour, c.minute, c.second);
  return stamp;
}

std::optional<UnixSeconds> LocalTimeScale::ParseBound(std::string_view text, UnixSeconds end,
                                                      bool relative_allowed) {
  if (text.size() >= 2 && text.size() <= 7 && (text.back() == 'h' || text.back() == 'd')) {
    std::int64_t n = 0;
    for (char c : text.substr(0, text.size() - 1)) {
      if (c < '0' || c > '9') return std::nullopt;
      n = n * 10 + (c - '0');
    }
    if (!relative_allowed || n <= 0) return std::nullopt;
    return end - n * (text.back() == 'h' ? 3600 : kDay);
  }
  const std::optional<CivilTime> date = ParseDate(text);
  if (!date) return std::nullopt;
  return ToUnix(*date);
}

}  // namespace snx::report
