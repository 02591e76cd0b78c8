// The /proc process list, with child processes of our own making.

#include "platform/process_list.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/process_stats.h"
#include "support/test_support.h"

extern char** environ;

namespace snx::platform {
namespace {

// A sleeping child, killed and reaped when it goes out of scope. posix_spawn returns once the
// child runs the new program.
struct SleepingChild {
  explicit SleepingChild(const std::string& program) {
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("30"), nullptr};
    if (posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv, environ) != 0) pid = -1;
  }
  ~SleepingChild() {
    if (pid > 0 && kill(pid, SIGKILL) == 0) waitpid(pid, nullptr, 0);
  }
  pid_t pid = -1;
};

const ProcessInfo* Find(const std::vector<ProcessInfo>& list, int pid) {
  auto it = std::find_if(list.begin(), list.end(), [&](const auto& p) { return p.pid == pid; });
  return it == list.end() ? nullptr : &*it;
}

TEST(ProcessListTest, SeesAChildWithItsExecutableAndBaseName) {
  test::TempDir dir;
  const std::string program = dir.File("snx child.probe.bin");
  std::filesystem::copy_file("/bin/sleep", program);
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  std::vector<ProcessInfo> list;
  auto child = std::make_unique<SleepingChild>(program);
  ASSERT_GT(child->pid, 0);
  for (int round = 0; round < 2; ++round) {
    ASSERT_TRUE(Use<ProcessList>().Snapshot(list));
    const ProcessInfo* seen = Find(list, child->pid);
    ASSERT_NE(seen, nullptr) << round;
    // The second round runs after the file was removed (as an upgrade does): the process
    // still counts as running that program.
    EXPECT_EQ(seen->executable_path, program) << round;
    EXPECT_EQ(seen->base_name, "snx child.probe.bin") << round;
    std::filesystem::remove(program);
  }
  EXPECT_TRUE(std::is_sorted(list.begin(), list.end(),
                             [](const auto& a, const auto& b) { return a.pid < b.pid; }));
  const int pid = child->pid;
  child.reset();
  ASSERT_TRUE(Use<ProcessList>().Snapshot(list));
  EXPECT_EQ(Find(list, pid), nullptr);
}

TEST(ProcessListTest, ReadsMoreProcessesThanOldFixedLimitsAllowed) {
  constexpr int kChildren = 1100;  // beyond 1,024 process ids
  std::vector<std::unique_ptr<SleepingChild>> children;
  for (int i = 0; i < kChildren; ++i) {
    children.push_back(std::make_unique<SleepingChild>("/bin/sleep"));
    ASSERT_GT(children.back()->pid, 0) << i;
  }
  std::vector<ProcessInfo> list;
  ASSERT_TRUE(Use<ProcessList>().Snapshot(list));
  int found = 0;
  for (const auto& c : children) found += Find(list, c->pid) != nullptr ? 1 : 0;
  EXPECT_EQ(found, kChildren);
}

TEST(ProcessStatsTest, AChildThatEndedIsGoneBeforeItIsReaped) {
  SleepingChild child("/bin/sleep");
  ASSERT_GT(child.pid, 0);
  ProcessStats stats;
  ASSERT_TRUE(Use<ProcessStatsReader>().Read(child.pid, stats));
  EXPECT_EQ(stats.pid, child.pid);
  ASSERT_EQ(kill(child.pid, SIGKILL), 0);
  // Not reaped yet: /proc still has the entry, as a zombie.
  siginfo_t info{};
  ASSERT_EQ(waitid(P_PID, static_cast<id_t>(child.pid), &info, WEXITED | WNOWAIT), 0);
  EXPECT_FALSE(Use<ProcessStatsReader>().Read(child.pid, stats));
}

}  // namespace
}  // namespace snx::platform
