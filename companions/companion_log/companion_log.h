#pragma once
// The log a companion keeps in its folder: one line per event, each after the local date and
// time ("2026-12-07 06:30:01 "). Texts from outside are written through VisibleText. The file
// moves to "<name>.old" when it has reached kSizeLimit; a line that cannot be written is lost.

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>

#include "platform/clock.h"

class CCompanionLog {
 public:
  static constexpr std::int64_t kSizeLimit = 1000000;

  explicit CCompanionLog(snx::platform::Clock& clock) : clock_(clock) {}
  // The file's POSIX path; "" writes nothing.
  void SetPath(std::string path);
  std::string Path() const;
  // Appends one line; false when it could not be written.
  bool Write(std::string_view text);

 private:
  snx::platform::Clock& clock_;
  mutable std::mutex mutex_;
  std::string path_;
};
