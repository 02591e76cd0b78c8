#include "core/qor_event.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

TEST(QorEvent, AnEmptyNameCreatesNoEvent) {
  CQorEvent event;
  EXPECT_FALSE(event.Initialize(""));
  EXPECT_FALSE(event.IsInitialized());
  EXPECT_FALSE(event.Fire());
  EXPECT_EQ(event.Message().View(), "For CQorEvent named : FIRE event failed.");
}

TEST(QorEvent, DefaultWaitTimeIsFiveSeconds) {
  CQorEvent event;
  ASSERT_TRUE(event.Initialize("EventCommand"));
  EXPECT_EQ(event.WaitTime(), 5000);
  EXPECT_EQ(event.View(), "EventCommand");
}

TEST(QorEvent, ATimedOutWaitIsLatchedUntilClear) {
  CQorEvent event;
  event.SetWaitTime(10);
  ASSERT_TRUE(event.Initialize("EventCommand"));
  EXPECT_FALSE(event.Wait());
  EXPECT_TRUE(event.TimedOut());
  EXPECT_TRUE(event.Wait());  // the latched outcome answers at once
  EXPECT_TRUE(event.Clear());
  EXPECT_FALSE(event.TimedOut());
  EXPECT_FALSE(event.Wait());  // after Clear it waits again
}

TEST(QorEvent, AFireBeforeTheWaitIsKeptUntilClear) {
  CQorEvent event;
  event.SetWaitTime(10);
  ASSERT_TRUE(event.Initialize("EventCommand"));
  EXPECT_TRUE(event.Fire());
  EXPECT_TRUE(event.Wait());
  EXPECT_TRUE(event.Signalled());
  EXPECT_FALSE(event.TimedOut());
  event.Clear();
  EXPECT_FALSE(event.Wait());
}

TEST(QorEvent, AFireFromAnotherThreadEndsTheWait) {
  CQorEvent event;
  event.SetWaitTime(60000);
  ASSERT_TRUE(event.Initialize("EventCommand"));
  std::thread firer([&event] { event.Fire(); });
  EXPECT_TRUE(event.Wait());
  firer.join();
  EXPECT_TRUE(event.Signalled());
}

}  // namespace
