// The item lists, the state change rule and the uptime record (on a real folder).

#include "probes/item_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <regex>
#include <string>

#include "platform/clock.h"
#include "platform/fake/fake_clock.h"
#include "support/test_support.h"

namespace {

using ::testing::ElementsAre;

class ItemManagerTest : public ::testing::Test {
 protected:
  snx::test::CapturingLog log_;
  CItemManager items_;
};

TEST_F(ItemManagerTest, StateChangesFollowTheFirstReportRule) {
  // {first state (0: none), next state, changed flag of the next report}
  const struct {
    std::int32_t before;
    std::int32_t report;
    bool changed;
  } cases[] = {
      {0, ITEM_STATE_UP, false},  // the first report of an item that is up is no change
      {0, ITEM_STATE_DOWN, true},
      {ITEM_STATE_DOWN, ITEM_STATE_UP, true},
      {ITEM_STATE_UP, ITEM_STATE_DOWN, true},
      {ITEM_STATE_UP, ITEM_STATE_UP, false},
      {ITEM_STATE_DOWN, ITEM_STATE_DOWN, false},
      {0, ITEM_STATE_UNKNOWN, false},
  };
  for (const auto& c : cases) {
    items_.ClearItems();
    ASSERT_TRUE(items_.AddItem(ITEM_LOCAL_URL, "http://x"));
    bool changed = true;
    if (c.before != 0) {
      ASSERT_TRUE(items_.Update(ITEM_LOCAL_URL, "http://x", c.before, changed));
    }
    ASSERT_TRUE(items_.Update(ITEM_LOCAL_URL, "http://x", c.report, changed));
    EXPECT_EQ(changed, c.changed) << c.before << " -> " << c.report;
    EXPECT_EQ(items_.GetItemRef(ITEM_LOCAL_URL, "http://x")->m_iState, c.report);
  }
}

TEST_F(ItemManagerTest, UpdateStampsTheItemWithTheClocksTime) {
  snx::platform::FakeClock clock;
  snx::platform::ScopedInstall<snx::platform::Clock> install(clock);
  clock.Advance(std::chrono::hours(12));
  ASSERT_TRUE(items_.AddItem(ITEM_PROGRAM, "/usr/sbin/nginx"));
  bool changed = false;
  ASSERT_TRUE(items_.Update(ITEM_PROGRAM, "/usr/sbin/nginx", ITEM_STATE_DOWN, changed));
  const CItem* item = items_.GetItemRef(ITEM_PROGRAM, "/usr/sbin/nginx");
  EXPECT_DOUBLE_EQ(item->m_dStateTime, 46023.5);  // 2026-01-01 12:00, the fake clock's noon
  EXPECT_EQ(item->m_iStateTimeStatus, CItem::kTimeValid);
}

TEST_F(ItemManagerTest, LookupsUseSameTextRulesAndReachTheFirstOfTwins) {
  ASSERT_TRUE(items_.AddItem(ITEM_RESTART, "Restart"));
  ASSERT_TRUE(items_.AddItem(ITEM_RESTART, "Restart"));
  CItem* first = items_.GetItemRef(ITEM_RESTART, "Restart");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(items_.GetItemRef(ITEM_RESTART, "RESTART"), first);
  bool changed = false;
  ASSERT_TRUE(items_.Update(ITEM_RESTART, "restart", ITEM_STATE_DOWN, changed));
  EXPECT_EQ(first->m_iState, ITEM_STATE_DOWN);
  EXPECT_EQ(static_cast<CItem*>(nullptr), items_.GetItemRef(ITEM_PROGRAM, "Restart"));
  EXPECT_EQ(static_cast<CItem*>(nullptr), items_.GetItemRef(ITEM_RESTART, "Restar"));

  first->m_sImageName.Assign("nginx");
  EXPECT_EQ(items_.GetRefByImageName(ITEM_RESTART, "NGINX"), first);
  log_.Clear();
  EXPECT_EQ(items_.GetRefByImageName(ITEM_RESTART, "ngin"), nullptr);
  EXPECT_THAT(log_.Errors(), ElementsAre("CItemManager::GetRefByImageName() failed for ngin"));
}

TEST_F(ItemManagerTest, FailuresWriteTheirLines) {
  bool changed = true;
  EXPECT_FALSE(items_.Update(ITEM_LOCAL_URL, "http://never", ITEM_STATE_UP, changed));
  EXPECT_FALSE(changed);
  EXPECT_THAT(log_.Errors(), ElementsAre("CItemManager::GetItemRef() failed for http://never",
                                         "CItemManager::Update() failed for http://never"));
  for (std::int32_t type : {99, 105, 0}) {
    log_.Clear();
    EXPECT_FALSE(items_.AddItem(type, "n"));
    EXPECT_THAT(log_.Errors(), ElementsAre("CItemManager::AddItem() calle with unknown TYPE",
                                           "CItemManager::AddItem() failed for n"));
  }
  log_.Clear();
  EXPECT_EQ(items_.GetItemRef(99, "n"), nullptr);
  EXPECT_THAT(log_.Errors(), ElementsAre("CItemManager::GetItemRef() failed for n"));
}

TEST_F(ItemManagerTest, EachListHoldsAtMost4096Items) {
  for (int i = 0; i < 4096; ++i) ASSERT_TRUE(items_.AddItem(ITEM_SPARE, std::to_string(i)));
  EXPECT_FALSE(items_.AddItem(ITEM_SPARE, "4097th"));
  EXPECT_TRUE(log_.HasError("CItemManager::AddItem() failed for 4097th"));
  EXPECT_TRUE(items_.AddItem(ITEM_PROGRAM, "other list"));  // the limit is per list
  items_.ClearItems();
  for (std::int32_t type = ITEM_PROGRAM; type <= ITEM_SPARE; ++type)
    EXPECT_EQ(items_.Count(type), 0);
}

// Reads the uptime file and returns its lines with the time stamps replaced by "T", after
// checking each ends with CR CR LF and carries a well-formed stamp.
std::vector<std::string> UptimeLines(const std::string& bytes) {
  std::vector<std::string> lines;
  const std::regex stamp(R"(^\d\d/\d\d/\d\d \d\d:\d\d:\d\d (.*)$)");
  std::size_t start = 0;
  while (start < bytes.size()) {
    const std::size_t end = bytes.find("\r\r\n", start);
    if (end == std::string::npos) {
      ADD_FAILURE() << "line without CR CR LF: " << bytes.substr(start);
      break;
    }
    const std::string line = bytes.substr(start, end - start);
    std::smatch m;
    if (line.empty()) {
      lines.push_back("");
    } else if (std::regex_match(line, m, stamp)) {
      lines.push_back("T " + m[1].str());
    } else {
      ADD_FAILURE() << "badly stamped line: " << line;
    }
    start = end + 3;
  }
  return lines;
}

TEST_F(ItemManagerTest, UptimeRecordLandsInTheFolderWithExactLines) {
  snx::test::TempDir dir;
  const std::string folder = dir.path() + "/sub";
  ASSERT_EQ(0, system(("mkdir -p '" + folder + "'").c_str()));
  items_.SetFolder(folder);
  ASSERT_TRUE(items_.ReInitialize());
  EXPECT_TRUE(items_.IsLive());
  ASSERT_TRUE(items_.AddItem(ITEM_LOCAL_URL, "http://x"));
  ASSERT_TRUE(items_.AddItem(ITEM_PROGRAM, "/opt/a"));
  ASSERT_TRUE(items_.AddItem(ITEM_PROGRAM, "/opt/b"));
  ASSERT_TRUE(items_.AddItem(ITEM_PROGRAM, "/opt/c"));
  items_.GetItemRef(ITEM_PROGRAM, "/opt/b")->m_sImageName.Assign("b");
  items_.GetItemRef(ITEM_PROGRAM, "/opt/c")->m_sImageName.Assign("c");
  bool changed = false;
  ASSERT_TRUE(items_.Update(ITEM_LOCAL_URL, "http://x", ITEM_STATE_DOWN, changed));
  ASSERT_TRUE(items_.Update(ITEM_LOCAL_URL, "http://x", ITEM_STATE_UP, changed));
  ASSERT_TRUE(items_.Update(ITEM_LOCAL_URL, "http://x", 7, changed));
  items_.LogProgramsUp("C");    // passes a and b, stops at c
  items_.LogProgramsUp("");     // stops at a, whose image name is still empty
  items_.LogProgramsUp("zzz");  // no match: every program

  EXPECT_THAT(UptimeLines(dir.Read("sub/Uptime.log")),
              ElementsAre("T Message: ///////////////////////////////////////////",
                          "T Message: /////////// ItemManager Started ///////////",
                          "T (event): 101, http://x, DN", "T (event): 101, http://x, UP",
                          "T (event): ", "T (event): 100, /opt/a, UP", "T (event): 100, /opt/b, UP",
                          "T (event): 100, /opt/a, UP", "T (event): 100, /opt/b, UP",
                          "T (event): 100, /opt/c, UP"));
  EXPECT_TRUE(log_.Errors().empty());

  // Starting again keeps the record and drops the items.
  ASSERT_TRUE(items_.ReInitialize());
  EXPECT_EQ(items_.Count(ITEM_LOCAL_URL), 0);
  EXPECT_EQ(UptimeLines(dir.Read("sub/Uptime.log")).size(), 12u);
}

TEST_F(ItemManagerTest, UnopenableRecordLeavesTheListsWorking) {
  items_.SetFolder("/proc/no/such/folder");
  EXPECT_FALSE(items_.ReInitialize());
  EXPECT_FALSE(items_.IsLive());
  EXPECT_TRUE(log_.HasError("CItemManager::ReInitialize() failed."));
  ASSERT_TRUE(items_.AddItem(ITEM_REMOTE_URL, "http://r"));
  bool changed = false;
  EXPECT_TRUE(items_.Update(ITEM_REMOTE_URL, "http://r", ITEM_STATE_DOWN, changed));
  EXPECT_TRUE(changed);
}

}  // namespace
