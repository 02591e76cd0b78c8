#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <utility>

#include "core/array_str.h"
#include "core/pointer_list.h"
#include "core/pointer_stack.h"
#include "core/qor_event.h"
#include "core/qor_str.h"
#include "support/test_support.h"

namespace {

using TextPairs = std::initializer_list<std::pair<const char*, const char*>>;

CQorStr Of(int length) { return CQorStr(std::string_view(std::string(length, 'a'))); }

TEST(QorStrLimit, AssignAndAppendStopBelow2047CharactersAndKeepTheText) {
  CQorStr s = Of(20);
  EXPECT_TRUE(s.Append(std::string(18, 'b')));
  EXPECT_TRUE(s.Append('c'));  // grows, keeping what was there
  EXPECT_EQ(s.View(), std::string(20, 'a') + std::string(18, 'b') + "c");
  EXPECT_FALSE(s.Assign(std::string(2047, 'y')));
  EXPECT_EQ(s.Length(), 39) << "a failed Assign keeps the old text";
  CQorStr full = Of(2046);
  EXPECT_FALSE(full.Append('y'));
  EXPECT_EQ(full.Length(), 2046);
  CQorStr near = Of(2000);
  EXPECT_TRUE(near.Append(std::string(14, 'y')));
  EXPECT_FALSE(near.Append(std::string(32, 'z')));
  EXPECT_EQ(near.Length(), 2014);
  // Empty views and the text itself are safe sources.
  CQorStr e{std::string_view()};
  EXPECT_TRUE(e.Append(std::string_view()) && e.Assign(std::string_view()) && e.IsEmpty());
  e.Assign("ab");
  e.Append(e.View());
  EXPECT_EQ(e.View(), "abab");
}

TEST(QorStrTrim, OnlyBytes33To125AreVisible) {
  for (const auto& [text, trimmed] : TextPairs{
           {"  a~ ", "a"}, {"     ", ""}, {"\t\x80x y\x7f\xff", "x y"}, {" \r\nkeep", "keep"}}) {
    CQorStr s(text);
    s.Trim();
    EXPECT_EQ(s.View(), trimmed) << text;
  }
}

TEST(QorStrCompare, FindFoldsOnlyLettersAndIsSameComparesTrimmedLengths) {
  // "[" and "{" differ by 0x20 but are no letters.
  EXPECT_EQ((std::vector{CQorStr("aaab").Find("aab"), CQorStr("abc").Find("B"),
                         CQorStr("abc").Find("B", true), CQorStr("abc").Find("abcd"),
                         CQorStr("[x]{y}").Find("{"), CQorStr("[x]{y}").Find("{Y")}),
            (std::vector{1, 1, -1, -1, 3, 3}));
  EXPECT_EQ((std::vector<bool>{CQorStr(" 1 ").IsSame("1"), CQorStr("10").IsSame("1"),
                               CQorStr("").IsSame("   "), CQorStr(" t ").IsSame("T"),
                               CQorStr("True").IsSame("T"), CQorStr("t").IsSame("T", true),
                               // a pattern longer than any string stands for an empty one
                               CQorStr(" ").IsSame(std::string(3000, 'a')),
                               CQorStr("a").IsSame(std::string(3000, 'a'))}),
            (std::vector<bool>{true, false, true, true, false, false, true, false}));
}

TEST(QorStrSubstrings, LeftMidAndKeepRight) {
  CQorStr s("hello world");
  EXPECT_EQ(
      (std::vector<std::string>{s.Left(50), s.Left(-1), s.Mid(9, 10), s.Mid(11), s.Mid(3, -1)}),
      (std::vector<std::string>{"hello world", "", "ld", "", ""}));
  CQorStr long_text = Of(600);  // results are cut to the 259 characters of the result area
  EXPECT_EQ(std::string(long_text.Mid(10)).size(), 259u);
  EXPECT_EQ(std::string(long_text.Left(400)).size(), 259u);
  EXPECT_STREQ(s.KeepRight(5), "world");  // in place
  EXPECT_STREQ(s.KeepRight(50), "world");
}

TEST(QorStrSplitOff, WalksAListItemByItem) {
  CQorStr path("C:\\a\\\\b");
  CQorStr token;
  for (const char* expected : {"C:", "a", "", "b"}) {  // a doubled separator gives an empty item
    path.SplitOff('\\', token);
    EXPECT_EQ(token.View(), expected);
  }
  EXPECT_EQ(path.View(), "");
}

TEST(QorStrNumbers, ToIntFollowsTheDecimalConversionAndClamps) {
  std::vector<int> got;
  for (const char* text : {"abc", "x7", "", " 12abc", "+8", "99999999999", "-99999999999"}) {
    got.push_back(CQorStr(text).ToInt());
  }
  EXPECT_EQ(got, (std::vector<int>{0, 0, 0, 12, 8, INT32_MAX, INT32_MIN}));
}

TEST(QorStrBytes, UpperCaseEscapesAndWideTexts) {
  CQorStr s("ab{}z\xe9");
  s.MakeUpper();
  EXPECT_EQ(s.View(), "AB{}Z\xe9");
  CQorStr path("C:/a\\b");
  EXPECT_STREQ(path.EscapeSlashes(), "C:\\\\a\\\\b");
  std::string deep;
  for (int i = 0; i < 300; ++i) deep += "\\dir";
  CQorStr long_path{std::string_view(deep)};  // never cut
  EXPECT_EQ(std::string(long_path.EscapeSlashes()).size(), 300u * 5);
  s.AssignBstr(u"ab\u00e9\u4e2d");
  EXPECT_EQ(s.View(), "ab\xe9?");
}

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
  EXPECT_FALSE(a.SetAt(4, "x") || a.SetAt(-1, "x") || a.GetAt(5) != nullptr);
  a.SetAt(2, "c");
  a.SetAt(0, "a");
  EXPECT_EQ(a.Count(), 3);
  EXPECT_TRUE(a.RePosition(-1));
  EXPECT_TRUE(a.RePosition(3));
  EXPECT_FALSE(a.RePosition(4));
  EXPECT_TRUE(log.HasError("CArrayStr::RePosition() has overflow iNdx."));
  EXPECT_FALSE(a.RePosition(-2));
  EXPECT_TRUE(log.HasError("CArrayStr::RePosition() has NEGATIVE iNdx."));
  // A failed Initialize leaves it not live.
  CArrayStr b;
  EXPECT_FALSE(b.Initialize(3, 0));
  EXPECT_TRUE(log.HasError("Problem: CArrayStr::Initialize recieved iStrLen <= 0."));
  EXPECT_FALSE(b.SetAt(0, "x"));
  EXPECT_TRUE(log.HasError("CArrayStr::IsLive() Object is not initialized."));
}

TEST(QorEvent, AnEmptyNameCreatesNoEventAndAnOutcomeIsLatchedUntilClear) {
  CQorEvent event;
  EXPECT_FALSE(event.Initialize(""));
  EXPECT_FALSE(event.Fire());
  EXPECT_EQ(event.Message().View(), "For CQorEvent named : FIRE event failed.");
  // An outcome is latched until Clear.
  CQorEvent latched;
  ASSERT_TRUE(latched.Initialize("EventCommand"));
  latched.SetWaitTime(10);
  EXPECT_FALSE(latched.Wait());
  EXPECT_TRUE(latched.TimedOut());
  EXPECT_TRUE(latched.Wait());  // the latched outcome answers at once
  EXPECT_TRUE(latched.Clear());
  EXPECT_TRUE(latched.Fire());  // a fire before the wait is kept
  EXPECT_TRUE(latched.Wait());
  EXPECT_TRUE(latched.Signalled());
  EXPECT_FALSE(latched.TimedOut());
  latched.Clear();
  EXPECT_FALSE(latched.Wait());
}

int g_items[8] = {0, 1, 2, 3, 4, 5, 6, 7};
void* Item(int i) { return &g_items[i]; }

// The items of the list from head to tail, checked against the walk from tail to head so that a
// broken back link shows as well.
std::vector<int> Items(const CPointerList& list) {
  std::vector<int> forward;
  std::vector<int> backward;
  for (auto* n = list.Head(); n != nullptr; n = n->next) {
    forward.push_back(static_cast<int*>(n->data) - g_items);
  }
  for (auto* n = list.Tail(); n != nullptr; n = n->previous) {
    backward.insert(backward.begin(), static_cast<int*>(n->data) - g_items);
  }
  EXPECT_EQ(forward, backward) << "forward and backward links disagree";
  EXPECT_EQ(static_cast<int>(forward.size()), list.Count());
  return forward;
}

TEST(PointerListTest, InsertGoesInFrontOfTheCursorUnlessTheListIsEmptyOrWalkedOffItsEnd) {
  CPointerList list;
  ASSERT_TRUE(list.InsertLink(Item(1)));  // empty: appends
  list.AppendLink(Item(2));
  list.AppendLink(Item(4));  // cursor on 4
  ASSERT_TRUE(list.InsertLink(Item(3)));
  EXPECT_EQ(list.CurrentData(), Item(3));
  list.GetFirst();  // cursor on the head: the new node becomes the head
  ASSERT_TRUE(list.InsertLink(Item(0)));
  EXPECT_EQ(Items(list), (std::vector<int>{0, 1, 2, 3, 4}));

  while (list.GetNext() != nullptr) {
  }
  EXPECT_TRUE(list.AtEnd());
  EXPECT_EQ(list.CurrentLink(), list.Tail()) << "walking off the end keeps the cursor";
  ASSERT_TRUE(list.InsertLink(Item(5)));
  EXPECT_EQ(Items(list), (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(PointerListTest, RemoveMovesHeadTailAndCursorOffTheNode) {
  // The node removed, the cursor before and the item under the cursor afterwards: the cursor
  // leaves a removed node for its previous one, or for the next one when it was the head.
  const int cases[][3] = {{2, 2, 1}, {0, 0, 1}, {1, 2, 2}, {2, 0, 0}};
  for (const auto& [remove, cursor, cursor_after] : cases) {
    SCOPED_TRACE(testing::Message() << "remove " << remove << ", cursor " << cursor);
    CPointerList list;
    std::vector<CPointerList::Node*> nodes;
    for (int i = 0; i < 3; ++i) {
      list.AppendLink(Item(i));
      nodes.push_back(list.Tail());
    }
    list.GetFirst();
    for (int i = 0; i < cursor; ++i) list.GetNext();
    ASSERT_TRUE(list.RemoveLink(nodes[remove], true));
    std::vector<int> expected = {0, 1, 2};
    expected.erase(expected.begin() + remove);
    EXPECT_EQ(Items(list), expected);
    EXPECT_EQ(list.CurrentData(), Item(cursor_after));
  }
}

TEST(PointerListTest, ANodeRemovedTwiceOrTheLastNodeLeaveASoundList) {
  CPointerList list;
  for (int i = 0; i < 3; ++i) list.AppendLink(Item(i));
  CPointerList::Node* middle = list.Head()->next;
  ASSERT_TRUE(list.RemoveLink(middle, false));
  EXPECT_TRUE(list.RemoveLink(middle, true));  // not linked any more: frees it, nothing else
  EXPECT_EQ(Items(list), (std::vector<int>{0, 2}));

  EXPECT_TRUE(list.RemoveTail());
  ASSERT_TRUE(list.RemoveLink(list.Head(), true));
  EXPECT_EQ(list.Tail(), nullptr);
  EXPECT_EQ(list.CurrentLink(), nullptr);
  ASSERT_TRUE(list.InsertLink(Item(7)));
  EXPECT_EQ(Items(list), (std::vector<int>{7}));
  EXPECT_TRUE(list.RemoveAll());
  EXPECT_EQ(Items(list), std::vector<int>{});
}

TEST(PointerStackTest, PushStopsAtTheSizeIterationRunsFromTheBottomAndGetAtStaysInRange) {
  snx::test::CapturingLog log;
  CPointerStack stack;  // a fresh stack takes the default size at its first push
  for (int i = 0; i < CPointerStack::kDefaultSize; ++i) ASSERT_TRUE(stack.Push(Item(i % 8)));
  EXPECT_FALSE(stack.Push(Item(0)));
  EXPECT_TRUE(log.HasError("CPointerStack::Push() cannot. Stack limit reached."));
  EXPECT_FALSE(stack.Initialize(0));
  EXPECT_EQ(stack.GetAt(0), nullptr);
  ASSERT_TRUE(stack.Initialize(2));
  EXPECT_EQ((std::vector<bool>{stack.Push(Item(1)), stack.Push(Item(2)), stack.Push(Item(3))}),
            (std::vector<bool>{true, true, false}));
  EXPECT_EQ((std::vector{stack.Pop(), stack.Pop(), stack.Pop()}),
            (std::vector<void*>{Item(2), Item(1), nullptr}));
  // Iteration runs from the bottom; GetAt stays in range.
  ASSERT_TRUE(stack.Initialize(3));
  for (int i : {1, 2, 3}) stack.Push(Item(i));
  std::vector<void*> seen;
  for (void* p = stack.GetFirst(); p != nullptr; p = stack.GetNext()) seen.push_back(p);
  EXPECT_EQ(seen, (std::vector<void*>{Item(1), Item(2), Item(3)}));
  EXPECT_EQ(stack.GetAt(-1), nullptr);
  stack.Pop();
  EXPECT_EQ(stack.GetAt(2), nullptr) << "a popped entry must not be reachable";
}

}  // namespace
