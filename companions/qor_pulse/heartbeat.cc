#include "heartbeat.h"

#include <algorithm>
#include <chrono>
#include <optional>
#include <vector>

#include "platform/file_system.h"
#include "platform/file_tail.h"
#include "platform/path_map.h"
#include "platform/visible_text.h"

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view Trim(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

// Two decimal digits at `at`, or -1.
int TwoDigits(std::string_view text, std::size_t at) {
  const char a = text[at];
  const char b = text[at + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return -1;
  return (a - '0') * 10 + (b - '0');
}

std::string Plural(std::int64_t n, const char* unit) {
  return std::to_string(n) + " " + unit + (n == 1 || n == -1 ? "" : "s");
}

}  // namespace

std::string_view LastLine(std::string_view tail) {
  while (!tail.empty()) {
    const std::size_t lf = tail.find_last_of('\n');
    const std::string_view line = lf == std::string_view::npos ? tail : tail.substr(lf + 1);
    if (!Trim(line).empty()) return Trim(line);
    if (lf == std::string_view::npos) break;
    tail = tail.substr(0, lf);
  }
  return {};
}

bool ParseBeatLine(std::string_view line, int this_year, BeatStamp& out) {
  static constexpr std::string_view kTail = " System working.";
  line = Trim(line);
  // "MM/DD/YY HH:MM:SS" and the words, nothing more.
  if (line.size() != 17 + kTail.size() || line.substr(17) != kTail) return false;
  if (line[2] != '/' || line[5] != '/' || line[8] != ' ' || line[11] != ':' || line[14] != ':') {
    return false;
  }
  BeatStamp s;
  s.month = TwoDigits(line, 0);
  s.day = TwoDigits(line, 3);
  const int yy = TwoDigits(line, 6);
  s.hour = TwoDigits(line, 9);
  s.minute = TwoDigits(line, 12);
  s.second = TwoDigits(line, 15);
  if (yy < 0 || s.month < 1 || s.month > 12 || s.hour < 0 || s.hour > 23 || s.minute < 0 ||
      s.minute > 59 || s.second < 0 || s.second > 59) {
    return false;
  }
  s.year = this_year - this_year % 100 + yy;
  if (s.year > this_year + 50) s.year -= 100;
  if (s.year < this_year - 50) s.year += 100;
  if (s.day < 1 || s.day > snx::platform::DaysInMonth(s.year, s.month)) return false;
  out = s;
  return true;
}

std::string CHeartbeat::PathFor(std::string_view install_folder) {
  if (snx::platform::Files().FolderExists(kFolder)) return std::string(kFolder) + "\\" + kFile;
  return std::string(install_folder) + kFile;
}

std::int64_t CHeartbeat::AgeOf(const BeatStamp& beat) {
  using std::chrono::seconds;
  const auto now = clock_.WallNow();
  const snx::platform::LocalTime local = clock_.ToLocal(now);
  const std::int64_t beat_local = snx::platform::CalendarSeconds(
      beat.year, beat.month, beat.day, beat.hour, beat.minute, beat.second);
  const std::int64_t now_local = snx::platform::CalendarSeconds(
      local.year, local.month, local.day, local.hour, local.minute, local.second);
  const std::int64_t naive = now_local - beat_local;
  // The offsets the zone has near the beat's time; an offset counts only where the beat's
  // local time, read with it, really has it.
  std::vector<int> offsets;
  for (const std::int64_t hours : {0, -2, 2}) {
    const int o = clock_.ToLocal(now - seconds(naive + hours * 3600)).utc_offset_minutes;
    if (std::find(offsets.begin(), offsets.end(), o) == offsets.end()) offsets.push_back(o);
  }
  // The shortest age that is not in the future; else the one nearest to now.
  std::optional<std::int64_t> past;
  std::optional<std::int64_t> future;
  for (const int o : offsets) {
    const auto beat_utc = std::chrono::system_clock::time_point(seconds(beat_local - o * 60LL));
    if (clock_.ToLocal(beat_utc).utc_offset_minutes != o) continue;
    const std::int64_t age = naive - (local.utc_offset_minutes - o) * 60LL;
    if (age >= 0) {
      past = std::min(age, past.value_or(age));
    } else {
      future = std::max(age, future.value_or(age));
    }
  }
  return past ? *past : future.value_or(naive);
}

HeartbeatCheck CHeartbeat::Test(std::string_view install_folder, std::int64_t max_age_seconds) {
  HeartbeatCheck c;
  c.path = snx::platform::ToPosixPath(PathFor(install_folder));
  std::string why;
  const auto tail = snx::platform::ReadFileTail(c.path, kTailBytes, &why);
  if (!tail) {
    c.why = "no heartbeat: " + snx::platform::VisibleText(why);
    c.report = c.why;
    return c;
  }
  const std::string_view last = LastLine(*tail);
  c.line = snx::platform::VisibleText(last.substr(0, 200));
  if (last.empty()) {
    c.why = "no heartbeat: " + c.path + " holds no line";
    c.report = c.why;
    return c;
  }
  BeatStamp beat;
  const int this_year = clock_.ToLocal(clock_.WallNow()).year;
  if (!ParseBeatLine(last, this_year, beat)) {
    c.why = "garbled heartbeat: the last line of " + c.path +
            " is not \"MM/DD/YY HH:MM:SS System working.\": \"" + c.line + "\"";
    c.report = c.why;
    return c;
  }
  c.age_seconds = AgeOf(beat);
  c.report = c.path + ": \"" + c.line + "\", ";
  if (c.age_seconds < -kFutureSlackSeconds) {
    c.why = "the heartbeat is " + Plural(-c.age_seconds, "second") +
            " in the future: the clock jumped back, or the line was not written by this clock";
    c.report += Plural(-c.age_seconds, "second") + " in the future";
    return c;
  }
  c.report += Plural(std::max<std::int64_t>(c.age_seconds, 0), "second") + " old";
  if (c.age_seconds > max_age_seconds) {
    c.why = "the heartbeat is stale: " + Plural(c.age_seconds, "second") + " old, more than " +
            Plural(max_age_seconds, "second");
    return c;
  }
  c.fresh = true;
  c.report += " (at most " + Plural(max_age_seconds, "second") + ")";
  return c;
}
