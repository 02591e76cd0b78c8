// The /proc process list, with a child process of our own making.

#include "platform/process_list.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/test_support.h"

extern char** environ;

namespace {

using snx::platform::ProcessInfo;
using snx::platform::ProcessList;
using snx::platform::Use;

// A sleeping child started from a copy of sleep(1) under an unusual name; killed and reaped
// when it goes out of scope.
class SleepingChild {
 public:
  explicit SleepingChild(const std::string& program) {
    char* argv[] = {const_cast<char*>(program.c_str()), const_cast<char*>("30"), nullptr};
    if (posix_spawn(&pid_, program.c_str(), nullptr, nullptr, argv, environ) != 0) pid_ = -1;
  }
  ~SleepingChild() { Stop(); }
  void Stop() {
    if (pid_ <= 0) return;
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  pid_t pid() const { return pid_; }

 private:
  pid_t pid_ = -1;
};

const ProcessInfo* Find(const std::vector<ProcessInfo>& list, int pid) {
  for (const auto& p : list) {
    if (p.pid == pid) return &p;
  }
  return nullptr;
}

// The child has exec'ed once /proc shows the new executable; wait a bounded while for that.
bool WaitForExecutable(int pid, const std::string& path) {
  for (int i = 0; i < 200; ++i) {
    std::error_code ec;
    const auto target = std::filesystem::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec);
    if (!ec && target.string().rfind(path, 0) == 0) return true;
    usleep(10000);
  }
  return false;
}

TEST(ProcessListTest, SeesAChildWithItsExecutableAndBaseName) {
  snx::test::TempDir dir;
  const std::string program = dir.File("snx child.probe.bin");
  std::filesystem::copy_file("/bin/sleep", program);
  std::filesystem::permissions(program, std::filesystem::perms::owner_all);
  SleepingChild child(program);
  ASSERT_GT(child.pid(), 0);
  ASSERT_TRUE(WaitForExecutable(child.pid(), program));

  std::vector<ProcessInfo> list;
  ASSERT_TRUE(Use<ProcessList>().Snapshot(list));
  const ProcessInfo* seen = Find(list, child.pid());
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(seen->executable_path, program);
  EXPECT_EQ(seen->base_name, "snx child.probe.bin");
  const ProcessInfo* self = Find(list, getpid());
  ASSERT_NE(self, nullptr);
  EXPECT_EQ(self->executable_path, std::filesystem::read_symlink("/proc/self/exe").string());
  EXPECT_TRUE(std::is_sorted(list.begin(), list.end(),
                             [](const auto& a, const auto& b) { return a.pid < b.pid; }));

  // A program whose file was removed since it started (an upgrade) still runs from that path.
  std::filesystem::remove(program);
  ASSERT_TRUE(Use<ProcessList>().Snapshot(list));
  seen = Find(list, child.pid());
  ASSERT_NE(seen, nullptr);
  EXPECT_EQ(seen->executable_path, program);
  EXPECT_EQ(seen->base_name, "snx child.probe.bin");

  const int pid = child.pid();
  child.Stop();
  ASSERT_TRUE(Use<ProcessList>().Snapshot(list));
  EXPECT_EQ(Find(list, pid), nullptr);
}

TEST(ProcessListTest, ReadsMoreProcessesThanOldFixedLimitsAllowed) {
  // 1,100 children of one executable: every one is in the list.
  constexpr int kChildren = 1100;
  std::vector<std::unique_ptr<SleepingChild>> children;
  for (int i = 0; i < kChildren; ++i) {
    children.push_back(std::make_unique<SleepingChild>("/bin/sleep"));
    ASSERT_GT(children.back()->pid(), 0) << i;
  }
  std::vector<ProcessInfo> list;
  ASSERT_TRUE(Use<ProcessList>().Snapshot(list));
  int found = 0;
  for (const auto& c : children) {
    if (Find(list, c->pid()) != nullptr) ++found;
  }
  EXPECT_EQ(found, kChildren);
  EXPECT_GT(list.size(), static_cast<std::size_t>(1024));
}

}  // namespace
