#pragma once
// Counter paths of the process activity watcher: two backslashes, the machine name, a
// backslash, "Process(", the process's base stem, ")", a backslash and the counter name, e.g.
// "\\WEB1\Process(server)\Elapsed Time".

#include <optional>
#include <string>
#include <string_view>

namespace snx::platform {

enum class ProcessCounter {
  kElapsedTime,        // "Elapsed Time"
  kIoDataBytesPerSec,  // "IO Data Bytes/sec"
  kIoDataOpsPerSec,    // "IO Data Operations/sec"
  kIoOtherOpsPerSec,   // "IO Other Operations/sec"
};
inline constexpr int kProcessCounterCount = 4;

// The counter's name as paths hold it.
const char* ProcessCounterName(ProcessCounter counter);
// The counters in the order they are handed to the watcher.
ProcessCounter ProcessCounterAt(int order);

struct CounterPath {
  std::string machine;
  std::string stem;  // the instance between the parentheses
  ProcessCounter counter = ProcessCounter::kElapsedTime;
};

// Paths longer than this are refused.
inline constexpr std::size_t kMaxCounterPath = 1024;

// "\\" + machine + "\Process(" + stem + ")\" + counter name.
std::string BuildCounterPath(std::string_view machine, std::string_view stem,
                             ProcessCounter counter);
// Reads a path of that form. The object name "Process" and the counter names compare without
// case; the machine and the stem must be non-empty and hold no "\", "(", ")" or control
// character. nullopt for anything else.
std::optional<CounterPath> ParseCounterPath(std::string_view path);

}  // namespace snx::platform
