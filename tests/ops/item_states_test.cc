// Item states tell the truth: a watched program that was restarted and runs again is reported
// up in the uptime record and the metrics, and the metrics file shows a change of state at once,
// not only at the end of the cycle.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <sstream>

#include "ops/ops_fixture.h"

namespace snx::test {
namespace {

using ::testing::ElementsAre;

constexpr const char* kProgram = "/opt/apps/server.bin";
// The watcher names the program by its instance in a counter path.
constexpr const char* kStillText = "\\Process(server)\\Elapsed Time stands still";

class ItemStatesTest : public OpsTest {
 protected:
  // The program is started by a command of its own ([PROGS]) and watched by its path
  // ([STOPS]); it runs as 4242, and its activity stands still until the test says otherwise.
  void LoadStillProgram(const Lines& keys) {
    Load(With(keys, {"[URLS]", kLocalUrl, "[PROGS]", "/opt/apps/server.bin --serve", "[STOPS]",
                     kProgram}));
    processes_.Add(4242, kProgram);
    watcher_.working = false;
    watcher_.text = kStillText;
  }
  // "DN" and "UP" of the program's reports in the uptime record, in order.
  Lines ProgramReports() const {
    Lines out;
    std::istringstream in(dir_.Read("Uptime.log"));
    const std::string needle = std::string("(event): 100, ") + kProgram + ", ";
    for (std::string line; std::getline(in, line);) {
      const auto at = line.find(needle);
      if (at != std::string::npos) out.push_back(line.substr(at + needle.size(), 2));
    }
    return out;
  }
  std::int64_t ProgramUp() const {
    return MetricSample(std::string("snxsvc_item_up{type=\"program\",name=\"") + kProgram + "\"}");
  }
};

TEST_F(ItemStatesTest, AProgramRestartedAndRunningAgainIsReportedUp) {
  // Still in the first cycle, and active again after the restart.
  LoadStillProgram({"UptimeSizeLimit=250000"});
  std::int64_t up_while_killing = -2;
  launcher_.OnRun([&](const platform::LaunchRequest& r) {
    if (r.command_line == "KILL /f 4242" && up_while_killing == -2) {
      up_while_killing = ProgramUp();
    }
  });
  on_wait = [&](int cycle) {
    if (cycle == 1) {
      // The verified restart reported the program back.
      EXPECT_THAT(ProgramReports(), ElementsAre("DN", "UP"));
      EXPECT_EQ(ProgramUp(), 1);
      watcher_.working = true;
    } else {
      Stop();
    }
  };
  StartAndGo();
  ASSERT_EQ(cycles_, 2);
  // Down in the metrics file before the restart began, not only after the cycle.
  EXPECT_EQ(up_while_killing, 0);
  EXPECT_EQ(ItemState(ITEM_PROGRAM, kProgram), ITEM_STATE_UP);
  EXPECT_THAT(ProgramReports(), ElementsAre("DN", "UP"));
  EXPECT_EQ(ProgramUp(), 1);
  EXPECT_EQ(thread_.Items().UptimeLog().SizeLimit(), 250000);
}

TEST_F(ItemStatesTest, AProgramThatComesBackAfterAnUnverifiedRestartIsUpAtTheNextGoodCycle) {
  LoadStillProgram({"RstrSecs=0"});
  // The kill works and nothing comes back within the restart: it cannot be verified.
  launcher_.OnRun([&](const platform::LaunchRequest& r) {
    if (r.command_line == "KILL /f 4242") processes_.Clear();
  });
  on_wait = [&](int cycle) {
    if (cycle == 1) {
      EXPECT_FALSE(thread_.RestartVerified());
      EXPECT_THAT(ProgramReports(), ElementsAre("DN"));
      EXPECT_EQ(ProgramUp(), 0);
      processes_.Add(4343, kProgram);  // a slow starter, running by the next test
      watcher_.working = true;
    } else {
      Stop();
    }
  };
  StartAndGo();
  ASSERT_EQ(cycles_, 2);
  EXPECT_EQ(ProgramReports().back(), "UP");
  EXPECT_EQ(ProgramUp(), 1);
}

}  // namespace
}  // namespace snx::test
