// snxctl register / components / unregister / activity with the built plug-ins.

#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "integration/subprocess.h"
#include "platform/launcher.h"
#include "support/child_programs.h"
#include "support/test_support.h"

namespace {

using namespace std::chrono_literals;
using snx::test::Snxctl;

class SnxctlComponentsTest : public ::testing::Test {
 protected:
  snx::test::TempDir root_;
  snx::test::ScopedEnv env_{"SNX_ROOT", root_.path().c_str()};
  std::string bin_ = std::filesystem::path(snx::test::SnxctlPath()).parent_path().string();
};

TEST_F(SnxctlComponentsTest, RegisteredCompanionsLoadAndUnregisteredOnesLeaveNoKeys) {
  for (const char* file : {"QorPerf.dll", "QorPulse.dll", "SnxReport.dll"}) {
    EXPECT_EQ(Snxctl({"register", "--dir", bin_, file}).exit_code, 0) << file;
  }
  const auto listed = Snxctl({"components", "--dir", bin_});
  EXPECT_EQ(listed.exit_code, 0) << listed.out;
  for (const char* prog_id : {"QorPerf.Watcher\n", "QorPulse.Pulse\n", "SnxReport.UtReport\n"}) {
    const auto at = listed.out.find(prog_id);
    ASSERT_NE(at, std::string::npos) << listed.out;
    EXPECT_NE(listed.out.find("loads and creates", at), std::string::npos) << prog_id;
  }
  for (const char* file : {"QorPerf.dll", "QorPulse.dll", "SnxReport.dll"}) {
    EXPECT_EQ(Snxctl({"unregister", "--dir", bin_, file}).exit_code, 0) << file;
  }
  const std::string keys = root_.Read("var/lib/snxsvc/" + std::string("HKEY_CLASSES_ROOT.reg"));
  EXPECT_EQ(keys.find("Qor"), std::string::npos) << keys;
  EXPECT_EQ(keys.find("SnxReport"), std::string::npos) << keys;

  const auto missing = Snxctl({"register", "--dir", bin_, "QorNothing.dll"});
  EXPECT_EQ(missing.exit_code, 1);
  EXPECT_NE(missing.out.find("cannot find file"), std::string::npos) << missing.out;
  EXPECT_EQ(Snxctl({"register"}).exit_code, 2);
}

TEST_F(SnxctlComponentsTest, ActivitySeesABusyProcessWork) {
  ASSERT_EQ(Snxctl({"register", "--dir", bin_, "QorPerf.dll"}).exit_code, 0);
  auto launcher = snx::platform::NewPosixLauncher({});
  const std::string busy_stem = snx::test::UniqueStem("snxbusy");
  const std::string busy = snx::test::CopyProgram(root_, "/bin/sh", busy_stem);
  const auto child =
      launcher->RunNoWait(busy + " -c \"while :; do echo x > /dev/null; sleep 0.05; done\"",
                          snx::platform::LaunchWindow::kHidden);
  std::this_thread::sleep_for(200ms);
  const auto working = Snxctl({"activity", "--seconds", "2", busy});
  EXPECT_EQ(working.exit_code, 0) << working.out;
  EXPECT_NE(working.out.find("verdict: working"), std::string::npos) << working.out;

  snx::test::KillChild(child.pid);
  EXPECT_EQ(Snxctl({"activity", "--sensitivity", "x", busy}).exit_code, 2);
}

}  // namespace
