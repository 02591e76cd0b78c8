#include "platform/power.h"

#include <gtest/gtest.h>

#include "support/test_support.h"

namespace snx::platform {
namespace {

TEST(PowerTest, RecordingAppendsEachRequestUnderTheStateRoot) {
  test::TempDir root;
  test::ScopedEnv env_root("SNX_ROOT", root.path().c_str());
  test::ScopedEnv env_power("SNX_POWER", "Record");
  ASSERT_TRUE(PowerIsRecording());
  Power& power = DefaultFacility<Power>();
  EXPECT_TRUE(power.HasRebootPrivilege());
  EXPECT_TRUE(power.ForceReboot("restarts failed"));
  EXPECT_TRUE(power.ForceReboot("again\nwith a line break"));
  const std::string text = root.Read("run/snxsvc/reboot-requests");
  EXPECT_NE(text.find("reboot requested: restarts failed\n"), std::string::npos) << text;
  EXPECT_NE(text.find("reboot requested: again\\nwith a line break\n"), std::string::npos)
      << "one line per request: " << text;
}

}  // namespace
}  // namespace snx::platform
