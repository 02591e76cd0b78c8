#pragma once
// What /proc tells about one process's activity: when it started (its identity beside the
// pid), how long it has run, and the counts of its input and output.

#include <cstdint>

#include "platform/installed.h"

namespace snx::platform {

struct ProcessStats {
  int pid = 0;
  std::uint64_t start_ticks = 0;       // start time after boot, in clock ticks: with the pid, which
                                       // process this is (a reused pid has another start)
  double elapsed_seconds = 0;          // time since the process started
  bool io_known = false;               // false when /proc/<pid>/io cannot be read (no rights)
  std::uint64_t data_bytes = 0;        // bytes read and written by read/write calls (rchar + wchar)
  std::uint64_t data_operations = 0;   // read and write calls (syscr + syscw)
  std::uint64_t other_operations = 0;  // context switches of its main thread, voluntary and not
};

class ProcessStatsReader {
 public:
  virtual ~ProcessStatsReader() = default;
  // False when the process does not exist (or its stat cannot be read).
  virtual bool Read(int pid, ProcessStats& out) = 0;
};

template <>
ProcessStatsReader& DefaultFacility<ProcessStatsReader>();

}  // namespace snx::platform
