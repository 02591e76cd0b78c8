#pragma once
// CHeartbeat: reads the watchdog's heartbeat file "Beat.txt" where the watchdog writes it and
// tells how old its last line is. The line is "MM/DD/YY HH:MM:SS System working." in local
// time; the file only grows, so only its last few kilobytes are read.

#include <cstdint>
#include <string>
#include <string_view>

#include "platform/clock.h"

// The calendar time of a heartbeat line (local time, full year).
struct BeatStamp {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  int second = 0;
};

// The last line of a file's tail that holds anything but line ends and blanks; "" when none.
std::string_view LastLine(std::string_view tail);

// Reads a heartbeat line exactly ("12/07/26 06:50:00 System working.", blanks at its ends
// allowed). The two-digit year goes into the century that puts it nearest `this_year`. False for
// any other text or an impossible date or time.
bool ParseBeatLine(std::string_view line, int this_year, BeatStamp& out);

struct HeartbeatCheck {
  bool fresh = false;
  std::string path;  // the file read, as a POSIX path
  std::string line;  // its last line (shown through VisibleText)
  std::int64_t age_seconds = 0;
  std::string why;     // why it is not fresh; empty when it is
  std::string report;  // what was seen, in one line
};

class CHeartbeat {
 public:
  static constexpr const char* kFolder = "D:\\Heartbeat";
  static constexpr const char* kFile = "Beat.txt";
  static constexpr std::size_t kTailBytes = 4096;
  // A heartbeat further ahead of the clock than this means the clock jumped back.
  static constexpr std::int64_t kFutureSlackSeconds = 60;

  explicit CHeartbeat(snx::platform::Clock& clock) : clock_(clock) {}

  // Where the watchdog writes its heartbeat: in the heartbeat folder when that exists, else in
  // the install folder (which ends with a separator).
  static std::string PathFor(std::string_view install_folder);

  // Fresh when the last line is a heartbeat line no older than `max_age_seconds` and not more
  // than a minute in the future.
  HeartbeatCheck Test(std::string_view install_folder, std::int64_t max_age_seconds);

  // Seconds from the local time `beat` to now. The time zone's offset may differ between the two
  // (a change to or from summer time): of the offsets the zone has around that time, the one
  // that gives the shortest age not in the future is taken.
  std::int64_t AgeOf(const BeatStamp& beat);

 private:
  snx::platform::Clock& clock_;
};
