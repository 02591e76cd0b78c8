// The activity watcher against real child processes.

#include "activity_monitor.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/launcher.h"
#include "support/child_programs.h"
#include "text/counter_path.h"

namespace snx::platform {
namespace {

using namespace std::chrono_literals;

class ActivityMonitorTest : public ::testing::Test {
 protected:
  ~ActivityMonitorTest() override {
    for (const int pid : children_) test::KillChild(pid);
  }
  // Starts a copy of `program` named `stem` with `args`; its pid.
  int Start(const std::string& stem, const std::string& program, const std::string& args) {
    const std::string path = test::CopyProgram(dir_, program, stem);
    const auto r = launcher_->RunNoWait(path + " " + args, LaunchWindow::kHidden);
    EXPECT_GT(r.pid, 0) << r.detail;
    children_.push_back(r.pid);
    // Let it exec: until then /proc shows the launcher's image.
    std::error_code ec;
    test::Eventually([&] {
      return std::filesystem::read_symlink("/proc/" + std::to_string(r.pid) + "/exe", ec) == path;
    });
    return r.pid;
  }
  int StartSleeper(const std::string& stem) { return Start(stem, "/bin/sleep", "60"); }
  // A shell that writes a line every 50 ms.
  int StartBusy(const std::string& stem) {
    return Start(stem, "/bin/sh", "-c \"while :; do echo x > /dev/null; sleep 0.05; done\"");
  }
  static std::string Path(const std::string& stem, ProcessCounter c) {
    return BuildCounterPath("TESTHOST", stem, c);
  }
  bool AddAll(const std::string& stem) {
    for (int i = 0; i < kProcessCounterCount; ++i) {
      if (!monitor_.AddCounter(Path(stem, ProcessCounterAt(i)))) return false;
    }
    return true;
  }

  test::TempDir dir_;
  std::unique_ptr<Launcher> launcher_ = NewPosixLauncher(LauncherContext{});
  CActivityMonitor monitor_{Use<ProcessList>(), Use<ProcessStatsReader>()};
  std::vector<int> children_;
};

TEST_F(ActivityMonitorTest, ABusyProcessWorksAndAKilledOneFailsByItsPath) {
  const std::string busy = test::UniqueStem("snxbusy");
  const std::string doomed = test::UniqueStem("snxdoomed");
  StartBusy(busy);
  const int pid = StartSleeper(doomed);
  ASSERT_TRUE(AddAll(busy));
  // Only well-formed paths of running stems are accepted; a path added twice is held once.
  EXPECT_TRUE(monitor_.AddCounter(Path(busy, ProcessCounter::kElapsedTime))) << "again";
  EXPECT_FALSE(monitor_.AddCounter(Path(busy + "none", ProcessCounter::kElapsedTime)));
  EXPECT_FALSE(monitor_.AddCounter("\\\\TESTHOST\\Process(" + busy + ")"));
  EXPECT_EQ(monitor_.CounterCount(), 4);
  ASSERT_TRUE(AddAll(doomed));
  EXPECT_TRUE(monitor_.TestWorking(16)) << monitor_.FailureText();
  EXPECT_EQ(monitor_.FailureText(), "");

  test::KillChild(pid);
  ASSERT_TRUE(test::ProcessGone(pid));
  EXPECT_FALSE(monitor_.TestWorking(16));
  const std::string text = monitor_.FailureText();
  EXPECT_TRUE(text.starts_with(Path(doomed, ProcessCounter::kElapsedTime)) &&
              text.find("(" + doomed + ")") != std::string::npos)
      << text;
  EXPECT_EQ(monitor_.CounterValue(4), "gone");

  // A new process of the stem is not the one watched, until its counters are added anew.
  StartSleeper(doomed);
  EXPECT_FALSE(monitor_.TestWorking(16));
  ASSERT_TRUE(AddAll(doomed));
  EXPECT_TRUE(monitor_.TestWorking(16)) << monitor_.FailureText();
}

TEST_F(ActivityMonitorTest, AProcessWithoutInputOrOutputFailsAfterTheWindow) {
  const std::string quiet = test::UniqueStem("snxquiet");
  const int pid = StartSleeper(quiet);
  // Past its loading, which reads files: asleep in nanosleep (or 2 s where the kernel hides it).
  test::Eventually(
      [&] {
        std::string wchan;
        std::ifstream("/proc/" + std::to_string(pid) + "/wchan") >> wchan;
        return wchan.find("nanosleep") != std::string::npos;
      },
      2s);
  auto now = CActivityMonitor::Clock::now();
  monitor_.SetNow([&now] { return now; });
  ASSERT_TRUE(AddAll(quiet));
  monitor_.SetLevel(96);
  EXPECT_EQ(CActivityMonitor::Window(16, 96), 1536s);

  now += 1500s;
  EXPECT_TRUE(monitor_.TestWorking(16)) << "inside the window";
  now += 1600s;
  EXPECT_FALSE(monitor_.TestWorking(16));
  EXPECT_EQ(monitor_.FailureText().rfind(Path(quiet, ProcessCounter::kIoDataOpsPerSec), 0), 0u)
      << monitor_.FailureText();
}

}  // namespace
}  // namespace snx::platform
