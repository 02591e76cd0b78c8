#include "platform/fake/fake_launcher.h"

#include <gtest/gtest.h>

namespace snx::platform {
namespace {

TEST(FakeLauncherTest, RecordsAndAnswersFromItsScript) {
  FakeLauncher launcher;
  LaunchResult killed;
  killed.outcome = LaunchOutcome::kExited;
  killed.exit_code = 128;
  launcher.Script("kill /f", killed, 1);
  EXPECT_TRUE(
      launcher.RunAndWait("KILL /f  app.exe", LaunchWindow::kHidden, std::chrono::seconds(1))
          .ExitedWith(128));
  EXPECT_TRUE(
      launcher.RunAndWait("KILL /f  app.exe", LaunchWindow::kHidden, std::chrono::seconds(1))
          .ExitedWith(0))
      << "the script was for one request";
  EXPECT_EQ(launcher.RunNoWait("app.exe", LaunchWindow::kNormal).outcome, LaunchOutcome::kStarted);
  const auto calls = launcher.Calls();
  ASSERT_EQ(calls.size(), 3u);
  EXPECT_EQ(calls[2].command_line, "app.exe");
  EXPECT_FALSE(calls[2].wait);
  EXPECT_EQ(calls[0].window, LaunchWindow::kHidden);
}

}  // namespace
}  // namespace snx::platform
