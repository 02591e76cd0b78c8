// The process activity watcher: finding the programs of [STOPS] and handing their counters on.

#include "probes/w_manager.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "files/ram_file_ro.h"
#include "platform/fake/fake_process_list.h"
#include "probes/item_manager.h"
#include "probes/watcher_counter_sink.h"
#include "support/test_support.h"

namespace snx::test {
namespace {

class RecordingSink : public CWatcherCounterSink {
 public:
  bool AddWatcherCounter(const CQorStr& path) override {
    if (refuse_after >= 0 && static_cast<int>(paths.size()) >= refuse_after) return false;
    paths.push_back(path.ToString());
    return true;
  }
  std::vector<std::string> paths;
  int refuse_after = -1;
};

class WManagerTest : public ::testing::Test {
 protected:
  WManagerTest() : installed_(processes_) {
    processes_.Add(100, "/usr/sbin/nginx");
    processes_.Add(200, "/opt/app/server.bin");
  }
  void Start(const std::vector<std::string>& stops, std::string_view machine = "DBHOST") {
    std::vector<std::string> lines = {"[KEYS]", "MachineName=x", "[STOPS]"};
    lines.insert(lines.end(), stops.begin(), stops.end());
    ASSERT_TRUE(image_.InitializeWithLines(dir_.path(), "AutoSet.caf", lines));
    items_.SetFolder(dir_.path());
    ASSERT_TRUE(items_.ReInitialize());
    for (const auto& s : stops) items_.AddItem(ITEM_PROGRAM, s);
    watcher_.SetItemManager(&items_);
    ASSERT_TRUE(watcher_.Initialize(&image_, &sink_, machine));
  }

  CapturingLog log_;
  TempDir dir_;
  platform::FakeProcessList processes_;
  platform::ScopedInstall<platform::ProcessList> installed_;
  CRamFileRO image_;
  CItemManager items_;
  RecordingSink sink_;
  CWManager watcher_;
};

TEST_F(WManagerTest, HandsFourCountersPerProgramOnce) {
  Start({"/usr/sbin/nginx", "/opt/app/server.bin"});
  EXPECT_TRUE(watcher_.LWN());
  EXPECT_EQ(watcher_.ProcessesWatched(), 2);
  ASSERT_EQ(sink_.paths.size(), 8u);
  EXPECT_EQ(sink_.paths[0], "\\\\DBHOST\\Process(nginx)\\Elapsed Time");
  EXPECT_EQ(sink_.paths[5], "\\\\DBHOST\\Process(server)\\IO Data Bytes/sec");
  EXPECT_EQ(items_.GetItemRef(ITEM_PROGRAM, "/opt/app/server.bin")->m_sImageName.ToString(),
            "server");

  // The same snapshot: nothing is added again.
  EXPECT_TRUE(watcher_.LWN());
  EXPECT_EQ(watcher_.ProcessesWatched(), 0);
  EXPECT_EQ(sink_.paths.size(), 8u);
  EXPECT_EQ(watcher_.GetPidOfProgram("/opt/app/server.bin"), 200);
}

TEST_F(WManagerTest, AProgramNotRunningEndsThePass) {
  Start({"C:\\Apps\\missing.exe", "/usr/sbin/nginx"});
  EXPECT_FALSE(watcher_.LWN());
  EXPECT_EQ(watcher_.FailureText().ToString(), "Failed. Cannot see missing.exe");
  EXPECT_TRUE(log_.HasError("CWManager::LWN failed."));
  EXPECT_TRUE(sink_.paths.empty());  // the later entry is not handled in this pass
}

TEST_F(WManagerTest, ARefusedCounterEndsThePass) {
  Start({"/usr/sbin/nginx"});
  sink_.refuse_after = 2;
  EXPECT_FALSE(watcher_.LWN());
  EXPECT_EQ(watcher_.ProcessesWatched(), 0);
}

TEST_F(WManagerTest, LaunchedProcessIsFoundInAFreshSnapshot) {
  Start({"/usr/sbin/nginx"});
  processes_.Add(300, "/usr/local/bin/worker");
  EXPECT_TRUE(watcher_.RegisterLaunchedProcess("ignored", 300));
  EXPECT_EQ(sink_.paths.back(), "\\\\DBHOST\\Process(worker)\\IO Other Operations/sec");
  EXPECT_FALSE(watcher_.RegisterLaunchedProcess("ignored", 301));  // ended before the snapshot
  EXPECT_TRUE(log_.HasError("CWManager::RegisterLaunchedProcess() failed."));
}

}  // namespace
}  // namespace snx::test
