#include "core/qor_event.h"

#include <gtest/gtest.h>

namespace {

TEST(QorEvent, AnEmptyNameCreatesNoEvent) {
  CQorEvent event;
  EXPECT_FALSE(event.Initialize(""));
  EXPECT_FALSE(event.Fire());
  EXPECT_EQ(event.Message().View(), "For CQorEvent named : FIRE event failed.");
}

TEST(QorEvent, AnOutcomeIsLatchedUntilClear) {
  CQorEvent event;
  ASSERT_TRUE(event.Initialize("EventCommand"));
  event.SetWaitTime(10);
  EXPECT_FALSE(event.Wait());
  EXPECT_TRUE(event.TimedOut());
  EXPECT_TRUE(event.Wait());  // the latched outcome answers at once
  EXPECT_TRUE(event.Clear());
  EXPECT_TRUE(event.Fire());  // a fire before the wait is kept
  EXPECT_TRUE(event.Wait());
  EXPECT_TRUE(event.Signalled());
  EXPECT_FALSE(event.TimedOut());
  event.Clear();
  EXPECT_FALSE(event.Wait());
}

}  // namespace
