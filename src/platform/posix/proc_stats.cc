// Process activity from /proc/<pid>/stat, io and status, read into bounded buffers.

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "platform/no_destructor.h"
#include "platform/process_stats.h"

namespace snx::platform {

namespace {

constexpr std::size_t kBuffer = 4096;

// Reads /proc/<pid>/<name> into `buffer` (NUL-terminated); the length, or -1.
long ReadProcFile(int pid, const char* name, char (&buffer)[kBuffer]) {
  char path[64];
  std::snprintf(path, sizeof path, "/proc/%d/%s", pid, name);
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  std::size_t total = 0;
  while (total < kBuffer - 1) {
    const ssize_t n = ::read(fd, buffer + total, kBuffer - 1 - total);
    if (n <= 0) break;
    total += static_cast<std::size_t>(n);
  }
  ::close(fd);
  buffer[total] = '\0';
  return static_cast<long>(total);
}

// The number after "key" (e.g. "rchar:") in a key-value file; 0 when absent.
std::uint64_t ValueAfter(const char* text, const char* key) {
  const char* at = std::strstr(text, key);
  if (at == nullptr) return 0;
  return std::strtoull(at + std::strlen(key), nullptr, 10);
}

class ProcStatsReader final : public ProcessStatsReader {
 public:
  ProcStatsReader() : ticks_per_second_(static_cast<double>(::sysconf(_SC_CLK_TCK))) {}

  bool Read(int pid, ProcessStats& out) override {
    out = ProcessStats{};
    out.pid = pid;
    char buffer[kBuffer];
    if (ReadProcFile(pid, "stat", buffer) <= 0) return false;
    // The name in parentheses may hold anything; the fields follow its last ")".
    const char* close = std::strrchr(buffer, ')');
    if (close == nullptr) return false;
    // A process that has ended but is not yet reaped (Z) or is being torn down (X) no longer
    // runs, though its /proc entry is still there.
    if (close[1] == ' ' && (close[2] == 'Z' || close[2] == 'X')) return false;
    // Fields from the state (3rd) on; the start time is the 22nd.
    const char* p = close + 1;
    for (int field = 3; field < 22 && p != nullptr; ++field) {
      p = std::strchr(p + 1, ' ');
    }
    if (p == nullptr) return false;
    out.start_ticks = std::strtoull(p + 1, nullptr, 10);
    timespec boot{};
    ::clock_gettime(CLOCK_BOOTTIME, &boot);
    const double now = static_cast<double>(boot.tv_sec) + boot.tv_nsec / 1e9;
    out.elapsed_seconds = now - static_cast<double>(out.start_ticks) / ticks_per_second_;
    if (out.elapsed_seconds < 0) out.elapsed_seconds = 0;

    if (ReadProcFile(pid, "io", buffer) > 0) {
      out.io_known = true;
      out.data_bytes = ValueAfter(buffer, "rchar:") + ValueAfter(buffer, "wchar:");
      out.data_operations = ValueAfter(buffer, "syscr:") + ValueAfter(buffer, "syscw:");
    }
    if (ReadProcFile(pid, "status", buffer) > 0) {
      out.other_operations = ValueAfter(buffer, "\nvoluntary_ctxt_switches:") +
                             ValueAfter(buffer, "nonvoluntary_ctxt_switches:");
    }
    return true;
  }

 private:
  double ticks_per_second_;
};

}  // namespace

template <>
ProcessStatsReader& DefaultFacility<ProcessStatsReader>() {
  static NoDestructor<ProcStatsReader> reader;
  return *reader.get();
}

}  // namespace snx::platform
