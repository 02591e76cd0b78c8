#pragma once
// CRebootRecord: the automatic reboots this system asked for, with their times, kept in a small
// text file of the state folder so that they survive the reboots themselves. It answers how many
// fall within the last 24 hours: the reboot storm guard of Go mode withholds a reboot that would
// make more of them than MaxRebootsPerDay.
//
// The file holds one reboot a line, in seconds since 1970-01-01 UTC, oldest first; lines that
// start with "#" are comments. Only the reboots of the last 24 hours are kept, and at most
// kMaxEntries of them. It is replaced whole on every change (a new temporary file, synced,
// renamed), never written through a symbolic link, and read with a bound on its size. A file
// that is missing or cannot be read whole counts as no reboots.
//
// Every "now" comes from the clock the record is given. The operations thread writes; the
// command object's threads read the counts: each call takes the record's lock.

#include <chrono>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

namespace snx::platform {
class Clock;
}

class CRebootRecord {
 public:
  static constexpr std::chrono::hours kWindow{24};
  static constexpr std::size_t kMaxEntries = 1000;
  static constexpr std::int64_t kMaxFileBytes = 64 * 1024;
  static constexpr const char* kFileName = "reboot-record";

  enum class LoadResult { kOk, kMissing, kDamaged };

  // `path`: the record file; DefaultPath() in the service.
  CRebootRecord(snx::platform::Clock& clock, std::string path);
  CRebootRecord(const CRebootRecord&) = delete;
  CRebootRecord& operator=(const CRebootRecord&) = delete;

  // $SNX_ROOT/var/lib/snxsvc/reboot-record
  static std::string DefaultPath();

  // Reads the file afresh. Missing or damaged: no reboots, and `why` says what was wrong.
  LoadResult Load(std::string* why = nullptr);
  // Records a reboot at the clock's now and replaces the file. False (with `why`) when the file
  // cannot be written; the reboot still counts in memory.
  bool Add(std::string* why = nullptr);

  // The reboots recorded within the last 24 hours (a time up to 24 hours ahead of now, left by
  // a clock that was set back, counts as well).
  std::int32_t CountInWindow();
  const std::string& Path() const { return m_sPath; }

  // The file's text for these times, and its reading: false (with `why`) for any line that is
  // not a comment, a blank line or a whole number of seconds.
  static std::string Format(const std::vector<std::int64_t>& seconds);
  static bool Parse(std::string_view text, std::vector<std::int64_t>& seconds, std::string* why);

 private:
  std::int64_t NowSeconds();
  // Drops what has left the window (or lies too far ahead) and the oldest beyond kMaxEntries.
  void PruneLocked(std::int64_t now);

  snx::platform::Clock& m_Clock;
  const std::string m_sPath;
  std::mutex m_Mutex;
  std::vector<std::int64_t> m_Seconds;  // oldest first
};
