// The uptime record moves to its ".old" file at its limit while the watchdog runs, and the
// report reads every report of both files.

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/fake/fake_clock.h"
#include "platform/file_system.h"
#include "probes/item_manager.h"
#include "support/test_support.h"
#include "uptime_record.h"

namespace snx::report {
namespace {

TEST(UptimeRotationTest, ARecordMovedAwayWhileRunningIsReadWhole) {
  test::TempDir dir;
  test::ScopedEnv root("SNX_ROOT", dir.path().c_str());  // the log's named lock lives under it
  test::ScopedEnv tz("TZ", "UTC");
  platform::FakeClock clock{platform::FakeClock::FromUtc(2026, 12, 1)};
  platform::ScopedInstall<platform::Clock> use_clock(clock);

  CItemManager items;
  items.SetFolder(dir.path());
  items.SetUptimeSizeLimit(2000);
  ASSERT_TRUE(items.ReInitialize());
  ASSERT_TRUE(items.AddItem(ITEM_LOCAL_URL, "http://web/"));
  // About 50 bytes a report: the record moves away once, after about 40 of them.
  const int reports = 60;
  for (int i = 0; i < reports; ++i) {
    clock.Advance(std::chrono::minutes(10));
    bool changed = false;
    ASSERT_TRUE(items.Update(ITEM_LOCAL_URL, "http://web/", i % 2 ? ITEM_STATE_UP : ITEM_STATE_DOWN,
                             changed));
  }
  EXPECT_LE(std::filesystem::file_size(dir.File("Uptime.old")), 2100u);
  EXPECT_LT(std::filesystem::file_size(dir.File("Uptime.log")), 2000u);

  LocalTimeScale scale(clock);
  UptimeRecord record;
  std::string why;
  ASSERT_TRUE(ReadUptimeRecord(platform::Files(), scale, dir.path(), record, why)) << why;
  EXPECT_EQ(record.files.size(), 2u);
  EXPECT_EQ(record.skipped, 0u);
  ASSERT_EQ(record.items.size(), 1u);
  const auto& got = record.items[0].reports;
  ASSERT_EQ(got.size(), static_cast<std::size_t>(reports));
  EXPECT_FALSE(got.front().Up());
  EXPECT_TRUE(got.back().Up());
}

}  // namespace
}  // namespace snx::report
