#include <gtest/gtest.h>

#include <vector>

#include "core/pointer_list.h"
#include "core/pointer_stack.h"
#include "support/test_support.h"

namespace {

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

TEST(PointerStackTest, PushStopsAtTheSizeAndInitializeDropsEarlierEntries) {
  snx::test::CapturingLog log;
  CPointerStack stack;  // a fresh stack takes the default size at its first push
  for (int i = 0; i < CPointerStack::kDefaultSize; ++i) ASSERT_TRUE(stack.Push(Item(i % 8)));
  EXPECT_FALSE(stack.Push(Item(0)));
  EXPECT_TRUE(log.HasError("CPointerStack::Push() cannot. Stack limit reached."));
  EXPECT_FALSE(stack.Initialize(0));
  EXPECT_EQ(stack.GetAt(0), nullptr);
  ASSERT_TRUE(stack.Initialize(2));
  EXPECT_TRUE(stack.Push(Item(1)));
  EXPECT_TRUE(stack.Push(Item(2)));
  EXPECT_FALSE(stack.Push(Item(3)));
  EXPECT_EQ(stack.Pop(), Item(2));
  EXPECT_EQ(stack.Pop(), Item(1));
  EXPECT_EQ(stack.Pop(), nullptr);
}

TEST(PointerStackTest, IterationRunsFromTheBottomAndGetAtStaysInRange) {
  CPointerStack stack;
  for (int i : {1, 2, 3}) stack.Push(Item(i));
  std::vector<void*> seen;
  for (void* p = stack.GetFirst(); p != nullptr; p = stack.GetNext()) seen.push_back(p);
  EXPECT_EQ(seen, (std::vector<void*>{Item(1), Item(2), Item(3)}));
  EXPECT_EQ(stack.GetAt(-1), nullptr);
  stack.Pop();
  EXPECT_EQ(stack.GetAt(2), nullptr) << "a popped entry must not be reachable";
}

}  // namespace
