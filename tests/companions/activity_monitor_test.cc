// The activity watcher against real child processes.

#include "activity_monitor.h"

#include <gtest/gtest.h>

#include <chrono>

#include "components/watcher_interface.h"
#include "platform/launcher.h"
#include "support/child_programs.h"
#include "text/counter_path.h"
#include "watcher.h"

namespace {

using namespace std::chrono_literals;
using snx::platform::BuildCounterPath;
using snx::platform::LaunchWindow;
using snx::platform::ProcessCounter;
using snx::platform::ProcessCounterAt;
using snx::platform::Use;

class ActivityMonitorTest : public ::testing::Test {
 protected:
  ~ActivityMonitorTest() override {
    for (const int pid : children_) snx::test::KillChild(pid);
  }
  // Starts a copy of `program` named `stem` with `args`; its pid.
  int Start(const std::string& stem, const std::string& program, const std::string& args) {
    const std::string path = snx::test::CopyProgram(dir_, program, stem);
    const auto r = launcher_->RunNoWait(path + " " + args, LaunchWindow::kHidden);
    EXPECT_GT(r.pid, 0) << r.detail;
    children_.push_back(r.pid);
    // Let it exec: until then /proc shows the launcher's image.
    std::error_code ec;
    for (int i = 0; i < 200; ++i) {
      if (std::filesystem::read_symlink("/proc/" + std::to_string(r.pid) + "/exe", ec) == path) {
        break;
      }
      std::this_thread::sleep_for(10ms);
    }
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
    for (int i = 0; i < snx::platform::kProcessCounterCount; ++i) {
      if (!monitor_.AddCounter(Path(stem, ProcessCounterAt(i)))) return false;
    }
    return true;
  }

  snx::test::TempDir dir_;
  std::unique_ptr<snx::platform::Launcher> launcher_ =
      snx::platform::NewPosixLauncher(snx::platform::LauncherContext{});
  CActivityMonitor monitor_{Use<snx::platform::ProcessList>(),
                            Use<snx::platform::ProcessStatsReader>()};
  std::vector<int> children_;
};

TEST_F(ActivityMonitorTest, AcceptsWellFormedPathsOfRunningStemsOnly) {
  const std::string stem = snx::test::UniqueStem("snxw");
  StartSleeper(stem);
  EXPECT_TRUE(AddAll(stem));
  EXPECT_TRUE(monitor_.AddCounter(Path(stem, ProcessCounter::kElapsedTime))) << "again";
  EXPECT_EQ(monitor_.CounterCount(), 4) << "a path added twice is held once";
  EXPECT_FALSE(monitor_.AddCounter(Path(stem + "none", ProcessCounter::kElapsedTime)));
  EXPECT_FALSE(monitor_.AddCounter("\\\\TESTHOST\\Process(" + stem + ")"));
  EXPECT_EQ(monitor_.CounterCount(), 4);
}

TEST_F(ActivityMonitorTest, ABusyProcessWorksAndAKilledOneFailsByItsPath) {
  const std::string busy = snx::test::UniqueStem("snxbusy");
  const std::string doomed = snx::test::UniqueStem("snxdoomed");
  StartBusy(busy);
  const int pid = StartSleeper(doomed);
  ASSERT_TRUE(AddAll(busy));
  ASSERT_TRUE(AddAll(doomed));
  EXPECT_TRUE(monitor_.TestWorking(16)) << monitor_.FailureText();
  EXPECT_EQ(monitor_.FailureText(), "");

  snx::test::KillChild(pid);
  ASSERT_TRUE(snx::test::ProcessGone(pid));
  EXPECT_FALSE(monitor_.TestWorking(16));
  const std::string text = monitor_.FailureText();
  EXPECT_EQ(text.rfind(Path(doomed, ProcessCounter::kElapsedTime), 0), 0u) << text;
  EXPECT_NE(text.find("(" + doomed + ")"), std::string::npos);
  EXPECT_EQ(monitor_.CounterValue(4), "gone");

  // A new process of the stem is not the one watched, until its counters are added anew.
  StartSleeper(doomed);
  EXPECT_FALSE(monitor_.TestWorking(16));
  ASSERT_TRUE(AddAll(doomed));
  EXPECT_TRUE(monitor_.TestWorking(16)) << monitor_.FailureText();
}

TEST_F(ActivityMonitorTest, AProcessWithoutInputOrOutputFailsAfterTheWindow) {
  const std::string quiet = snx::test::UniqueStem("snxquiet");
  StartSleeper(quiet);
  std::this_thread::sleep_for(300ms);  // past its loading, which reads files
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

TEST_F(ActivityMonitorTest, WatcherAnswersThroughItsInterface) {
  const std::string stem = snx::test::UniqueStem("snxiface");
  StartBusy(stem);
  CWatcher* object = new CWatcher(Use<snx::platform::ProcessList>(),
                                  Use<snx::platform::ProcessStatsReader>(), 20ms);
  auto watcher = snx::platform::ComPtr<snx::platform::IWatcher>::Attach(object);
  using snx::platform::Variant;
  std::int32_t out = 0;
  Variant folder = Variant::Text(dir_.path());
  EXPECT_EQ(watcher->Configure(&folder, &out), snx::platform::S_OK);
  EXPECT_EQ(out, -1);
  Variant path = Variant::Text(Path(stem, ProcessCounter::kIoDataOpsPerSec));
  watcher->AddCounter(&path, &out);
  EXPECT_EQ(out, -1);
  Variant bad = Variant::Int(5);
  watcher->AddCounter(&bad, &out);
  EXPECT_EQ(out, 0) << "a path must be text";
  std::this_thread::sleep_for(1200ms);  // the watcher's own thread measures a rate
  Variant index = Variant::Int(0);
  Variant value;
  watcher->GetCounterValue(&index, &value);
  EXPECT_GT(std::stod(value.TextValue()), 0.0);
  Variant level = Variant::Int(96);
  EXPECT_EQ(watcher->SetLevel(&level), snx::platform::S_OK);
  Variant threshold = Variant::Int(16);
  watcher->TestWorking(&threshold, &out);
  EXPECT_EQ(out, -1);
  Variant text = Variant::Text("stale");
  watcher->GetText(&text);
  EXPECT_EQ(text.TextValue(), "");
}

}  // namespace
