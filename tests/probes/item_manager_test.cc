// The item lists, the state change rule and the uptime record (on a real folder).

#include "probes/item_manager.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/fake/capturing_message_sink.h"
#include "platform/fake/fake_clock.h"
#include "support/test_support.h"

namespace {

class ItemManagerTest : public ::testing::Test {
 protected:
  snx::test::CapturingLog log_;
  snx::platform::CapturingMessageSink boxes_;
  snx::platform::ScopedInstall<snx::platform::MessageSink> use_boxes_{boxes_};
  CItemManager items_;
  bool changed_ = false;
};

TEST_F(ItemManagerTest, StateChangesFollowTheFirstReportRule) {
  snx::platform::FakeClock clock;
  snx::platform::ScopedInstall<snx::platform::Clock> install(clock);
  ASSERT_TRUE(items_.AddItem(ITEM_LOCAL_URL, "up first"));
  ASSERT_TRUE(items_.AddItem(ITEM_LOCAL_URL, "down first"));
  const struct {
    const char* name;
    std::int32_t report;
    bool changed;
  } reports[] = {
      {"up first", ITEM_STATE_UP, false},  // the first report of an item that is up is no change
      {"up first", ITEM_STATE_UP, false},        {"up first", ITEM_STATE_DOWN, true},
      {"up first", ITEM_STATE_DOWN, false},      {"up first", ITEM_STATE_UP, true},
      {"down first", ITEM_STATE_UNKNOWN, false}, {"down first", ITEM_STATE_DOWN, true},
  };
  for (const auto& r : reports) {
    clock.Advance(std::chrono::hours(12));
    ASSERT_TRUE(items_.Update(ITEM_LOCAL_URL, r.name, r.report, changed_));
    EXPECT_EQ(changed_, r.changed) << r.name << " " << r.report;
    const CItem* item = items_.GetItemRef(ITEM_LOCAL_URL, r.name);
    EXPECT_EQ(item->m_iState, r.report);
    EXPECT_DOUBLE_EQ(item->m_dStateTime, snx::platform::ToOleDate(clock.WallNow()));
  }
}

TEST_F(ItemManagerTest, LookupsAndTheirFailuresWithoutAnUptimeRecord) {
  items_.SetFolder("/proc/no/such/folder");  // the lists work all the same
  EXPECT_FALSE(items_.ReInitialize());
  EXPECT_FALSE(items_.IsLive());
  EXPECT_TRUE(log_.HasError("CItemManager::ReInitialize() failed."));
  // An uptime record that cannot be opened is said, not silently lost.
  EXPECT_TRUE(boxes_.HasText(
      "CLogFile::Open() cannot open /proc/no/such/folder/Uptime.log: No such file or directory"));
  ASSERT_TRUE(items_.AddItem(ITEM_RESTART, "Restart"));
  ASSERT_TRUE(items_.AddItem(ITEM_RESTART, "Restart"));
  CItem* first = items_.GetItemRef(ITEM_RESTART, "Restart");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(items_.GetItemRef(ITEM_RESTART, "RESTART"), first);  // the first of twins
  ASSERT_TRUE(items_.Update(ITEM_RESTART, "restart", ITEM_STATE_DOWN, changed_));
  EXPECT_EQ(first->m_iState, ITEM_STATE_DOWN);
  first->m_sImageName.Assign("nginx");
  EXPECT_EQ(items_.GetRefByImageName(ITEM_RESTART, "NGINX"), first);

  EXPECT_EQ(items_.GetItemRef(ITEM_PROGRAM, "Restart"), nullptr);  // another type's list
  EXPECT_EQ(items_.GetRefByImageName(ITEM_RESTART, "ngin"), nullptr);
  EXPECT_FALSE(items_.Update(ITEM_LOCAL_URL, "http://never", ITEM_STATE_UP, changed_));
  EXPECT_FALSE(items_.AddItem(105, "n"));
  EXPECT_TRUE(log_.HasError("CItemManager::AddItem() calle with unknown TYPE"));

  for (int i = 2; i < 4096; ++i) ASSERT_TRUE(items_.AddItem(ITEM_RESTART, std::to_string(i)));
  EXPECT_FALSE(items_.AddItem(ITEM_RESTART, "4097th"));
  EXPECT_TRUE(log_.HasError("CItemManager::AddItem() failed for 4097th"));
  EXPECT_TRUE(items_.AddItem(ITEM_PROGRAM, "other list"));  // the limit is per list
}

// The file's bytes with the digits of each line's time stamp ("MM/DD/YY HH:MM:SS ") made 0.
std::string Unstamped(std::string bytes) {
  for (std::size_t line = 0; line < bytes.size(); line = bytes.find('\n', line) + 1) {
    for (std::size_t i = line; i < line + 17 && i < bytes.size(); ++i) {
      if (bytes[i] >= '0' && bytes[i] <= '9') bytes[i] = '0';
    }
    if (bytes.find('\n', line) == std::string::npos) break;
  }
  return bytes;
}

// Lookups by name go through an index; they find what the matching rule (IsSame, first in
// the order of adding) finds, before and after the lists are cleared.
TEST_F(ItemManagerTest, NameLookupsFindWhatTheMatchingRuleFinds) {
  const std::pair<std::int32_t, const char*> added[] = {{ITEM_LOCAL_URL, "  http://Site.test/a "},
                                                        {ITEM_LOCAL_URL, "http://site.test/A"},
                                                        {ITEM_REMOTE_URL, "http://site.test/a"},
                                                        {ITEM_LOCAL_URL, "http://site.test/ab"},
                                                        {ITEM_LOCAL_URL, "   "},
                                                        {ITEM_PROGRAM, "Web~"}};
  const std::string queries[] = {"http://site.test/a",
                                 "HTTP://SITE.TEST/A",
                                 " http://site.test/a",
                                 "http://site.test/a  ",
                                 "  http://Site.test/a ",
                                 "http://site.test/b",
                                 "site.test/a",
                                 "",
                                 "  ",
                                 "WEB",
                                 "web~~",
                                 std::string(3000, 'a')};
  const auto rule = [&](std::int32_t type, std::string_view query) -> const CItem* {
    const CItem* first = nullptr;
    items_.ForEachItem([&](const CItem& item) {
      if (first == nullptr && item.m_iType == type && item.m_sName.IsSame(query)) first = &item;
    });
    return first;
  };
  const auto check = [&](const char* when) {
    for (const auto type : {ITEM_LOCAL_URL, ITEM_REMOTE_URL, ITEM_PROGRAM}) {
      for (const std::string& query : queries) {
        EXPECT_EQ(items_.GetItemRef(type, query), rule(type, query))
            << when << ": type " << type << " \"" << query.substr(0, 40) << "\"";
      }
    }
  };
  for (const auto& [type, name] : added) {
    ASSERT_TRUE(items_.AddItem(type, name));
  }
  check("all added");
  EXPECT_NE(items_.GetItemRef(ITEM_REMOTE_URL, "HTTP://SITE.TEST/A"), nullptr);
  items_.ClearItems();
  check("cleared");
  for (const auto& [type, name] : added) {
    if (type != ITEM_LOCAL_URL) {
      ASSERT_TRUE(items_.AddItem(type, name));
    }
  }
  check("added again without the local URLs");
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
  for (std::int32_t state : {ITEM_STATE_DOWN, ITEM_STATE_UP, 7}) {
    ASSERT_TRUE(items_.Update(ITEM_LOCAL_URL, "http://x", state, changed_));
  }
  items_.LogProgramsUp("C");           // passes a and b, stops at c
  items_.LogProgramsUp("");            // stops at a, whose image name is still empty
  items_.LogProgramsUp("zzz");         // no match: every program
  ASSERT_TRUE(items_.ReInitialize());  // starting again keeps the record, drops the items
  EXPECT_EQ(items_.Count(ITEM_LOCAL_URL), 0);

  std::string expected;
  for (const char* line :
       {"Message: ///////////////////////////////////////////",
        "Message: /////////// ItemManager Started ///////////", "(event): 101, http://x, DN",
        "(event): 101, http://x, UP", "(event): ", "(event): 100, /opt/a, UP",
        "(event): 100, /opt/b, UP", "(event): 100, /opt/a, UP", "(event): 100, /opt/b, UP",
        "(event): 100, /opt/c, UP", "Message: ///////////////////////////////////////////",
        "Message: /////////// ItemManager Started ///////////"}) {
    expected += std::string("00/00/00 00:00:00 ") + line + "\r\r\n";
  }
  EXPECT_EQ(Unstamped(dir.Read("sub/Uptime.log")), expected);
  EXPECT_TRUE(log_.Errors().empty());
}

}  // namespace
