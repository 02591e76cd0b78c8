#include "core/array_str.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace {

TEST(ArrayStr, SlotWidthAddsATerminatorOnlyBelow31) {
  CArrayStr a;
  ASSERT_TRUE(a.Initialize(3, 30));
  EXPECT_EQ(a.Width(), 31);
  ASSERT_TRUE(a.SetAt(0, std::string(40, 'x')));
  EXPECT_EQ(std::string(a.GetAt(0)), std::string(30, 'x'));
  ASSERT_TRUE(a.Initialize(2, 31));
  EXPECT_EQ(a.Width(), 31);
  a.SetAt(1, std::string(40, 'y'));
  EXPECT_EQ(std::string(a.GetAt(1)), std::string(30, 'y'));
  ASSERT_TRUE(a.Initialize(2, 40));
  EXPECT_EQ(a.Width(), 40);
}

TEST(ArrayStr, IndexesOutsideTheSlotsAreRefused) {
  CArrayStr a;
  ASSERT_TRUE(a.Initialize(2, 8));
  EXPECT_FALSE(a.SetAt(2, "x"));
  EXPECT_FALSE(a.SetAt(-1, "x"));
  EXPECT_EQ(a.GetAt(5), nullptr);
  EXPECT_EQ(a.Current(), -1);
  EXPECT_EQ(a.Count(), 0);
  a.SetAt(1, "b");
  EXPECT_EQ(a.Count(), 2);
  a.SetAt(0, "a");
  EXPECT_EQ(a.Count(), 2);  // highest written index, not the number written
  a.Clear();
  EXPECT_EQ(a.Count(), 0);
  EXPECT_STREQ(a.GetAt(1), "");
}

TEST(ArrayStr, RePositionBounds) {
  snx::test::CapturingLog log;
  CArrayStr a;
  ASSERT_TRUE(a.Initialize(4, 8));
  EXPECT_TRUE(a.RePosition(-1));
  EXPECT_TRUE(a.RePosition(3));
  EXPECT_EQ(a.Position(), 3);
  EXPECT_FALSE(a.RePosition(4));
  EXPECT_TRUE(log.HasError("CArrayStr::RePosition() has overflow iNdx."));
  EXPECT_FALSE(a.RePosition(-2));
  EXPECT_TRUE(log.HasError("CArrayStr::RePosition() has NEGATIVE iNdx."));
}

TEST(ArrayStr, FailedInitializeLeavesItNotLive) {
  snx::test::CapturingLog log;
  CArrayStr a;
  EXPECT_FALSE(a.IsLive());
  EXPECT_TRUE(log.HasError("CArrayStr::IsLive() Object is not initialized."));
  EXPECT_FALSE(a.Initialize(3, 0));
  EXPECT_TRUE(log.HasError("Problem: CArrayStr::Initialize recieved iStrLen <= 0."));
  EXPECT_FALSE(a.Initialize(0, 5));
  EXPECT_TRUE(log.HasError("Problem: CArrayStr::Initialize recieved iSize <= 0."));
  EXPECT_TRUE(log.HasError("CArrayStr::Initialize() failed."));
  EXPECT_FALSE(a.SetAt(0, "x"));
}

}  // namespace
