#pragma once
// The uptime record as the report reads it back: every up and down report of the "Uptime" log
// and its ".old" copy, item by item. The reader takes any bytes: a line that the watchdog did
// not write (or is longer than any it writes) is skipped and counted, never trusted.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "log_time.h"
#include "platform/file_system.h"

namespace snx::report {

// Item types and the "Restart" item, as the watchdog writes them.
inline constexpr std::int32_t kProgramItem = 100;
inline constexpr std::int32_t kLocalUrlItem = 101;
inline constexpr std::int32_t kRemoteUrlItem = 102;
inline constexpr std::int32_t kRestartItem = 103;
inline constexpr std::int32_t kSpareItem = 104;

// Longer lines are not the watchdog's: its item names are at most 2046 characters.
inline constexpr std::size_t kMaxLineBytes = 8192;

// One report: when, and up or down, packed into one number (time * 2 + up) to keep a year of
// reports of a hundred items in little memory.
struct Report {
  std::int64_t mark;
  UnixSeconds Time() const { return mark >> 1; }
  bool Up() const { return (mark & 1) != 0; }
  static Report Of(UnixSeconds t, bool up) { return {t * 2 + (up ? 1 : 0)}; }
};

struct ItemReports {
  std::int32_t type = 0;
  std::string name;             // as first written (the watchdog matches names without case)
  std::vector<Report> reports;  // in time order (reports of one second in the order read)
  // A URL item's certificate expiry (Unix seconds), as the log last gave it.
  std::optional<std::int64_t> cert_expiry;
};

struct UptimeRecord {
  std::vector<ItemReports> items;  // in the order of their first report
  std::uint64_t reports = 0;       // up and down reports read
  std::uint64_t other_lines = 0;   // the log's own other lines: banners, certificates, blanks
  std::uint64_t skipped = 0;       // lines not of the log's form (too long ones included)
  std::uint64_t too_long = 0;      // of those, lines longer than kMaxLineBytes
  std::vector<std::string> files;  // the files read, oldest first
};

// "Uptime.old" and "Uptime.log" of a folder (a path text; "" is the current folder).
std::string UptimeOldPath(std::string_view folder);
std::string UptimeLogPath(std::string_view folder);

class UptimeReader {
 public:
  explicit UptimeReader(LocalTimeScale& scale) : scale_(scale) {}

  // Reads one file to its end. False when it cannot be opened (LastFileError says why) or a
  // read fails; what was read until then stays.
  bool ReadFile(platform::FileSystem& files, std::string_view path);
  // Takes bytes of the log; a line may span calls.
  void Feed(std::string_view bytes);
  // Ends the bytes fed (a last line without its end counts) and gives the record, each item's
  // reports in time order.
  UptimeRecord Finish();

 private:
  void TakeLine(std::string_view line);
  // A message line "Certificate of URL expires at ... (epoch N)"; false when it is not one.
  bool TakeCertificate(std::string_view message);
  std::size_t ItemIndex(std::int32_t type, std::string_view key, std::string_view name);
  std::size_t LookUp(std::int32_t type, std::string_view key, std::string_view name);

  LocalTimeScale& scale_;
  UptimeRecord record_;
  std::string partial_;      // a line not yet ended
  bool discarding_ = false;  // inside a line already too long
  // "TYPE, name" as written, and TYPE + folded name, to the item's index.
  struct Hash {
    using is_transparent = void;
    std::size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
  };
  std::unordered_map<std::string, std::size_t, Hash, std::equal_to<>> exact_;
  std::unordered_map<std::string, std::size_t> folded_;
  // Folded URL to the certificate expiry its last certificate line gave.
  std::unordered_map<std::string, std::int64_t> certificates_;
  // The watchdog reports its items in the same order every cycle: the item that followed an
  // item last time is tried first (with the text it was last written as), before any look-up.
  std::vector<std::size_t> follower_;
  std::vector<std::string> last_key_;
  std::size_t previous_ = 0;
  // The civil seconds of the last line's minute ("MM/DD/YY HH:MM"): lines of one minute read
  // only their seconds.
  char minute_text_[14] = {};
  std::int64_t minute_civil_ = -1;
};

// Reads the ".old" copy, then the log itself, of the folder. Missing files are left out of
// `record.files`; false when neither could be read.
bool ReadUptimeRecord(platform::FileSystem& files, LocalTimeScale& scale, std::string_view folder,
                      UptimeRecord& record, std::string& why);

}  // namespace snx::report
