#pragma once
// Real child processes for the launcher's and the watcher's tests: copies of system programs
// under names of their own, so their base stems belong to the test alone.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>

#include "support/test_support.h"

namespace snx::test {

// A name no other process has: prefix + this process's id + a counter (no ".").
inline std::string UniqueStem(const std::string& prefix) {
  static std::atomic<int> counter{0};
  return prefix + std::to_string(::getpid()) + "x" + std::to_string(counter++);
}

// Copies `from` (e.g. "/bin/sleep") into `dir` as `name` (kept executable); the copy's path.
inline std::string CopyProgram(const TempDir& dir, const std::string& from,
                               const std::string& name) {
  const std::string to = dir.File(name);
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::permissions(to, std::filesystem::perms::owner_all);
  return to;
}

// True when `pid` has ended and been reaped (no entry, or not ours any more) within `limit`.
inline bool ProcessGone(int pid, std::chrono::milliseconds limit = std::chrono::seconds(5)) {
  return Eventually([&] { return !std::filesystem::exists("/proc/" + std::to_string(pid)); },
                    limit);
}

// Ends a child a test started (the launcher's reaper reaps it).
inline void KillChild(int pid) {
  if (pid > 1) ::kill(pid, SIGKILL);
}

}  // namespace snx::test
