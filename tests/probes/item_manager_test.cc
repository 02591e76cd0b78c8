// The item lists, the state change rule and the uptime record (on a real folder).

#include "probes/item_manager.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

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
  snx::platform::FakeClock clock;  // 2026-01-01 00:00 UTC
  snx::platform::ScopedInstall<snx::platform::Clock> install(clock);
  const struct {
    std::int32_t before;  // 0: no report before
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
    clock.Advance(std::chrono::hours(12));
    ASSERT_TRUE(items_.Update(ITEM_LOCAL_URL, "http://x", c.report, changed));
    EXPECT_EQ(changed, c.changed) << c.before << " -> " << c.report;
    const CItem* item = items_.GetItemRef(ITEM_LOCAL_URL, "http://x");
    EXPECT_EQ(item->m_iState, c.report);
    EXPECT_DOUBLE_EQ(item->m_dStateTime, snx::platform::ToOleDate(clock.WallNow()));
  }
  EXPECT_DOUBLE_EQ(snx::platform::ToOleDate(snx::platform::FakeClock().WallNow()), 46023.0);
}

TEST_F(ItemManagerTest, LookupsAndTheirFailures) {
  ASSERT_TRUE(items_.AddItem(ITEM_RESTART, "Restart"));
  ASSERT_TRUE(items_.AddItem(ITEM_RESTART, "Restart"));
  CItem* first = items_.GetItemRef(ITEM_RESTART, "Restart");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(items_.GetItemRef(ITEM_RESTART, "RESTART"), first);  // the first of twins
  bool changed = false;
  ASSERT_TRUE(items_.Update(ITEM_RESTART, "restart", ITEM_STATE_DOWN, changed));
  EXPECT_EQ(first->m_iState, ITEM_STATE_DOWN);
  first->m_sImageName.Assign("nginx");
  EXPECT_EQ(items_.GetRefByImageName(ITEM_RESTART, "NGINX"), first);

  log_.Clear();
  EXPECT_EQ(items_.GetItemRef(ITEM_PROGRAM, "Restart"), nullptr);  // another type's list
  EXPECT_EQ(items_.GetRefByImageName(ITEM_RESTART, "ngin"), nullptr);
  EXPECT_FALSE(items_.Update(ITEM_LOCAL_URL, "http://never", ITEM_STATE_UP, changed));
  EXPECT_FALSE(items_.AddItem(105, "n"));
  EXPECT_FALSE(items_.AddItem(99, "m"));
  EXPECT_THAT(log_.Errors(), ElementsAre("CItemManager::GetItemRef() failed for Restart",
                                         "CItemManager::GetRefByImageName() failed for ngin",
                                         "CItemManager::GetItemRef() failed for http://never",
                                         "CItemManager::Update() failed for http://never",
                                         "CItemManager::AddItem() calle with unknown TYPE",
                                         "CItemManager::AddItem() failed for n",
                                         "CItemManager::AddItem() calle with unknown TYPE",
                                         "CItemManager::AddItem() failed for m"));

  for (int i = 2; i < 4096; ++i) ASSERT_TRUE(items_.AddItem(ITEM_RESTART, std::to_string(i)));
  EXPECT_FALSE(items_.AddItem(ITEM_RESTART, "4097th"));
  EXPECT_TRUE(log_.HasError("CItemManager::AddItem() failed for 4097th"));
  EXPECT_TRUE(items_.AddItem(ITEM_PROGRAM, "other list"));  // the limit is per list
}

// The file's bytes with each line's time stamp ("MM/DD/YY HH:MM:SS ") replaced by "T ";
// a line without a well-formed stamp is kept as it is, and then fails the comparison.
std::string WithoutStamps(const std::string& bytes) {
  const std::string form = "00/00/00 00:00:00 ";
  std::string out;
  std::size_t start = 0;
  while (start < bytes.size()) {
    std::size_t end = bytes.find("\r\r\n", start);
    end = end == std::string::npos ? bytes.size() : end + 3;
    std::string line = bytes.substr(start, end - start);
    bool stamped = line.size() > form.size();
    for (std::size_t i = 0; stamped && i < form.size(); ++i) {
      stamped = form[i] == '0' ? (line[i] >= '0' && line[i] <= '9') : line[i] == form[i];
    }
    out += stamped ? "T " + line.substr(form.size()) : line;
    start = end;
  }
  return out;
}

TEST_F(ItemManagerTest, UptimeRecordLandsInTheFolderWithExactLines) {
  snx::test::TempDir dir;
  std::filesystem::create_directory(dir.File("sub"));
  items_.SetFolder(dir.File("sub"));  // kept with doubled separators, mapped back to one
  ASSERT_TRUE(items_.ReInitialize());
  EXPECT_TRUE(items_.IsLive());
  for (const char* name : {"/opt/a", "/opt/b", "/opt/c"}) items_.AddItem(ITEM_PROGRAM, name);
  items_.AddItem(ITEM_LOCAL_URL, "http://x");
  items_.GetItemRef(ITEM_PROGRAM, "/opt/b")->m_sImageName.Assign("b");
  items_.GetItemRef(ITEM_PROGRAM, "/opt/c")->m_sImageName.Assign("c");
  bool changed = false;
  for (std::int32_t state : {ITEM_STATE_DOWN, ITEM_STATE_UP, 7}) {
    ASSERT_TRUE(items_.Update(ITEM_LOCAL_URL, "http://x", state, changed));
  }
  items_.LogProgramsUp("C");           // passes a and b, stops at c
  items_.LogProgramsUp("");            // stops at a, whose image name is still empty
  items_.LogProgramsUp("zzz");         // no match: every program
  ASSERT_TRUE(items_.ReInitialize());  // starting again keeps the record, drops the items
  EXPECT_EQ(items_.Count(ITEM_LOCAL_URL), 0);

  const std::string banner =
      "T Message: ///////////////////////////////////////////\r\r\n"
      "T Message: /////////// ItemManager Started ///////////\r\r\n";
  EXPECT_EQ(WithoutStamps(dir.Read("sub/Uptime.log")),
            banner +
                "T (event): 101, http://x, DN\r\r\n"
                "T (event): 101, http://x, UP\r\r\n"
                "T (event): \r\r\n"
                "T (event): 100, /opt/a, UP\r\r\nT (event): 100, /opt/b, UP\r\r\n"
                "T (event): 100, /opt/a, UP\r\r\nT (event): 100, /opt/b, UP\r\r\n"
                "T (event): 100, /opt/c, UP\r\r\n" +
                banner);
  EXPECT_TRUE(log_.Errors().empty());
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
