#include "core/array_str.h"

#include <gtest/gtest.h>

#include <string>

#include "support/test_support.h"

namespace {

TEST(ArrayStr, SlotWidthAddsATerminatorOnlyBelow31) {
  for (const auto& [length, kept] : {std::pair{30, 30}, {31, 30}, {40, 39}}) {
    CArrayStr a;
    ASSERT_TRUE(a.Initialize(2, length));
    ASSERT_TRUE(a.SetAt(0, std::string(50, 'x')));
    EXPECT_EQ(std::string(a.GetAt(0)), std::string(kept, 'x')) << "length " << length;
    EXPECT_STREQ(a.GetAt(1), "") << "a long text must not spill into the next slot";
  }
}

TEST(ArrayStr, IndexesOutsideTheSlotsAreRefusedAndCountIsTheHighestWritten) {
  snx::test::CapturingLog log;
  CArrayStr a;
  ASSERT_TRUE(a.Initialize(4, 8));
  EXPECT_FALSE(a.SetAt(4, "x"));
  EXPECT_FALSE(a.SetAt(-1, "x"));
  EXPECT_EQ(a.GetAt(5), nullptr);
  a.SetAt(2, "c");
  a.SetAt(0, "a");
  EXPECT_EQ(a.Count(), 3);
  EXPECT_TRUE(a.RePosition(-1));
  EXPECT_TRUE(a.RePosition(3));
  EXPECT_FALSE(a.RePosition(4));
  EXPECT_TRUE(log.HasError("CArrayStr::RePosition() has overflow iNdx."));
  EXPECT_FALSE(a.RePosition(-2));
  EXPECT_TRUE(log.HasError("CArrayStr::RePosition() has NEGATIVE iNdx."));
}

TEST(ArrayStr, FailedInitializeLeavesItNotLive) {
  snx::test::CapturingLog log;
  CArrayStr a;
  EXPECT_FALSE(a.Initialize(3, 0));
  EXPECT_TRUE(log.HasError("Problem: CArrayStr::Initialize recieved iStrLen <= 0."));
  EXPECT_FALSE(a.SetAt(0, "x"));
  EXPECT_TRUE(log.HasError("CArrayStr::IsLive() Object is not initialized."));
}

}  // namespace
